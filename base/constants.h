#pragma once

// The program's fixed names and numbers, each written here once.

#include <cstdint>

// The folder in the user's home that holds the settings ("config") and the logs ("log").
inline constexpr const char* user_folder_name = "Velmora3";

// The supervising program's UDP port for status queries; fixed on every car.
inline constexpr std::uint16_t telemetry_port = 50000;
// The data service's TCP port when the setting data_service_port gives none that can be used.
inline constexpr std::uint16_t default_data_service_port = 12600;
// The coordinate server's TCP port when the setting coordinate_server_port is absent.
inline constexpr std::uint16_t default_coordinate_server_port = 12500;

// Ids of the program's windows, commands, timers and worker events, in one numbering so that no
// two meet in an event table by chance. A menu item and a tool with the same id run one command.
enum window_id : int {
    id_main_window,
    id_log_pane,
    id_camera_panel,
    id_database_list,
    id_camera_list,
    id_exposure_list,
    id_options,
    id_exit,
    id_update_cameras,
    id_capture,
    id_capture_record,
    id_stop,
    id_update_databases,
    id_view_database,
    id_delete_database,
    id_replace_side,
    id_replace_session_code,
    // The viewer's controls.
    id_dpp,
    id_save,
    id_process,
    // The frame saver's wxEVT_THREAD events to the viewer.
    id_save_step,
    id_save_end,
    id_log_render_timer,
    id_status_timer,
};
