#pragma once

// What the enabled state of the commands depends on.
struct command_state {
    bool capturing = false;
    bool camera_open = false;
    bool recorder_busy = false; // a camera command is still queued or running
    bool database_listed = false;
    bool database_selected = false;
};

// Enabled state of a command or control id; ids without a rule are always enabled. A camera
// command waits while the recorder is busy, so none is given twice before the first has run.
bool is_command_enabled(int id, const command_state& state);
