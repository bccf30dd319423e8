#pragma once

// Window and command ids of the main window. Menu items and tools with the same id run the same
// command.
enum main_window_id : int {
    id_main_window = 0,
    id_log_pane = 1,
    id_camera_panel = 2,
    id_database_list = 3,
    id_camera_list = 4,
    id_exposure_list = 5,
    id_options = 6,
    id_exit = 7,
    id_update_cameras = 8,
    id_capture = 9,
    id_capture_record = 10,
    id_stop = 11,
    id_update_databases = 12,
    id_view_database = 13,
    id_delete_database = 14,
    id_replace_side = 15,
    id_replace_session_code = 16,
};

// What the enabled state of the commands depends on.
struct command_state {
    bool capturing = false;
    bool camera_open = false;
    bool database_listed = false;
    bool database_selected = false;
};

// Enabled state of a command or control id; ids without a rule are always enabled.
bool is_command_enabled(int id, const command_state& state);
