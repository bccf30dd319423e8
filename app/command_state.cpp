#include "app/command_state.h"

#include "base/constants.h"

bool is_command_enabled(int id, const command_state& state) {
    switch (id) {
    case id_options:
    case id_update_databases:
        return !state.capturing;
    case id_camera_list:
    case id_update_cameras:
        return !state.capturing && !state.recorder_busy;
    case id_capture:
    case id_capture_record:
        return !state.capturing && state.camera_open && !state.recorder_busy;
    case id_stop:
        return state.capturing && !state.recorder_busy;
    case id_view_database:
    case id_delete_database:
        return !state.capturing && state.database_listed && state.database_selected;
    default:
        return true;
    }
}
