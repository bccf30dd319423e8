#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include <wx/aui/aui.h>
#include <wx/combobox.h>
#include <wx/fileconf.h>
#include <wx/filename.h>
#include <wx/frame.h>
#include <wx/listctrl.h>
#include <wx/panel.h>

#include "app/command_state.h"
#include "base/constants.h"
#include "browser/database_commands.h"
#include "camera/camera_access.h"
#include "camera/grab_modes.h"
#include "camera/recording_grab.h"
#include "recording/session_store.h"

class database_list;
class log_viewer;

// Where the network threads listen: on a car the telemetry's fixed port and the data service's
// port from the settings. Tests that build several windows at once ask for free ports instead.
struct network_ports {
    std::uint16_t telemetry = telemetry_port;
    bool data_service_from_settings = true; // false: any free port
};

class service_thread;
class telemetry_thread;

// The main window and owner of nearly everything: the settings store, the log pane and the panes
// of the live image and the recorded sessions. Its constructor is the program's start-up and its
// destructor the shutdown. Worker threads reach it only through queued thread events. GUI thread.
class tresvik_frame : public wxFrame {
public:
    tresvik_frame(wxWindow* parent, wxWindowID id, const wxString& title, const wxPoint& pos,
                  const wxSize& size, const network_ports& ports = {});
    ~tresvik_frame() override;

    // What the update-UI handler decides the enabled state from.
    command_state current_command_state() const;

    // Tests answer the dialogs of the commands in place of the operator.
    void use_prompts(std::unique_ptr<operator_prompts> prompts);
    // Tests reach the sessions as the data service does.
    session_store& sessions() { return sessions_; }
    // The application's box for a failed worker; a window without one (in tests) only logs it.
    void show_failures_with(std::function<void()> box) { failure_box_ = std::move(box); }

private:
    void bind_thread_events();
    void build_menus();
    void build_panes();
    void build_toolbar();
    void write_startup_rows();
    void show_stored_exposure_mode();
    void update_camera_list();
    void select_camera(const wxString& description);
    void select_preferred_camera();
    void index_stored_write_path();
    void start_network_threads(const network_ports& ports);
    void stop_network_threads();

    void on_exit(wxCommandEvent& event);
    void on_exposure_selected(wxCommandEvent& event);
    void on_camera_selected(wxCommandEvent& event);
    void on_update_cameras(wxCommandEvent& event);
    void on_capture(wxCommandEvent& event);
    void on_capture_record(wxCommandEvent& event);
    void on_stop(wxCommandEvent& event);
    void on_options(wxCommandEvent& event);
    void on_update_databases(wxCommandEvent& event);
    void on_view_database(wxCommandEvent& event);
    void on_delete_database(wxCommandEvent& event);
    void on_replace_side(wxCommandEvent& event);
    void on_replace_session_code(wxCommandEvent& event);
    void draw_live_image();
    void on_update_ui(wxUpdateUIEvent& event);

    void on_new_frame(wxThreadEvent& event);
    void on_stream_stats(wxThreadEvent& event);
    void on_record_status(wxThreadEvent& event);
    void on_log_error(wxThreadEvent& event);
    void on_log_info(wxThreadEvent& event);
    void on_service_down(wxThreadEvent& event);

    // First, so that it goes last: everything below that reads sessions has gone by then.
    session_store sessions_;
    FACTORY_HANDLE factory_ = nullptr;
    wxAuiManager aui_manager_;
    wxFileName log_file_;
    wxComboBox* camera_list_ = nullptr;
    wxComboBox* exposure_list_ = nullptr;
    log_viewer* log_pane_ = nullptr;
    wxPanel* camera_panel_ = nullptr;
    database_list* database_list_ = nullptr;
    std::shared_ptr<JAI_Camera> camera_;
    wxString exposure_mode_;
    camera_list cameras_;
    wxArrayString camera_descriptions_;
    std::unique_ptr<wxFileConfig> settings_;
    std::unique_ptr<operator_prompts> prompts_;
    std::unique_ptr<database_commands> database_commands_;
    // Set exactly while a capture runs; its threads end when it is released.
    std::shared_ptr<frame_source> grab_mode_;
    std::unique_ptr<service_thread> service_thread_;
    std::unique_ptr<telemetry_thread> telemetry_thread_;
    std::function<void()> failure_box_;

    wxDECLARE_EVENT_TABLE();
};
