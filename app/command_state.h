#pragma once

// What the enabled state of the commands depends on.
struct command_state {
    bool capturing = false;
    bool camera_open = false;
    bool database_listed = false;
    bool database_selected = false;
};

// Enabled state of a command or control id; ids without a rule are always enabled.
bool is_command_enabled(int id, const command_state& state);
