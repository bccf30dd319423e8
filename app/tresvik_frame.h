#pragma once

#include <functional>
#include <memory>

#include <wx/aui/aui.h>
#include <wx/combobox.h>
#include <wx/fileconf.h>
#include <wx/filename.h>
#include <wx/frame.h>
#include <wx/listctrl.h>
#include <wx/timer.h>

#include "app/command_state.h"
#include "app/status_pacer.h"
#include "base/constants.h"
#include "browser/database_commands.h"
#include "recorder/recorder.h"
#include "recording/session_store.h"

class database_list;
class live_view;
class log_viewer;

// The main window: the composition root, which owns the settings store, the session store, the
// recorder and the panes of the live image, the log and the recorded sessions. It turns menu
// commands into calls of the recorder and the recorder's reports into widgets. Its constructor is
// the program's start-up and its destructor the shutdown. GUI thread.
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
    // The application's boxes: one for a failed worker (the data service), one with the text of a
    // failed camera command. A window without them (in tests) only logs the worker's failure.
    void show_failures_with(std::function<void()> worker_box,
                            std::function<void(const wxString& text)> command_box) {
        worker_box_ = std::move(worker_box);
        command_box_ = std::move(command_box);
    }

private:
    void bind_thread_events();
    void build_menus();
    void build_panes();
    void build_toolbar();
    void write_startup_rows();
    void show_stored_exposure_mode();
    void index_stored_write_path();
    void configure_archive();

    // The commands: calls of the recorder and of the database commands.
    void on_exit(wxCommandEvent&) { Close(true); }
    void on_exposure_selected(wxCommandEvent& event);
    void on_camera_selected(wxCommandEvent& event) {
        recorder_->select_camera(event.GetString().ToStdWstring());
    }
    void on_update_cameras(wxCommandEvent&) {
        recorder_->update_camera_list(camera_list_->GetValue().ToStdWstring());
    }
    void on_capture(wxCommandEvent& event);
    void on_capture_record(wxCommandEvent& event);
    void on_stop(wxCommandEvent&) { recorder_->stop_capture(); }
    void on_options(wxCommandEvent& event);
    void on_update_databases(wxCommandEvent&) { database_commands_->refresh(); }
    void on_view_database(wxCommandEvent&) { database_commands_->view_selected(); }
    void on_delete_database(wxCommandEvent&) { database_commands_->delete_selected(); }
    void on_replace_side(wxCommandEvent&) { database_commands_->assign_side(); }
    void on_replace_session_code(wxCommandEvent&) { database_commands_->change_session_code(); }
    void on_update_ui(wxUpdateUIEvent& event) {
        event.Enable(is_command_enabled(event.GetId(), current_command_state()));
    }

    void on_new_frame(wxThreadEvent& event);
    void show_status(int field, const wxString& text);
    void on_status_timer(wxTimerEvent&) { show_due_status(); }
    void show_due_status();
    void on_recorder_state(wxThreadEvent& event);
    void on_service_down(wxThreadEvent& event);
    void on_command_failed(wxThreadEvent& event);
    void on_archive(wxThreadEvent& event);

    // First, so that it goes last: everything below that reads sessions has gone by then.
    session_store sessions_;
    // Made before any window, so that the camera layer's failure ends start-up before it shows.
    std::unique_ptr<recorder> recorder_;
    wxAuiManager aui_manager_;
    wxFileName log_file_;
    wxComboBox* camera_list_ = nullptr;
    wxComboBox* exposure_list_ = nullptr;
    log_viewer* log_pane_ = nullptr;
    live_view* camera_panel_ = nullptr;
    database_list* database_list_ = nullptr;
    std::unique_ptr<wxFileConfig> settings_;
    std::unique_ptr<operator_prompts> prompts_;
    std::unique_ptr<database_commands> database_commands_;
    bool capturing_ = false; // as last reported: a stop refreshes the list once it has ended
    std::function<void()> worker_box_;
    std::function<void(const wxString& text)> command_box_;
    status_pacer status_;
    wxTimer status_timer_{this, id_status_timer}; // runs while a text waits for its turn

    wxDECLARE_EVENT_TABLE();
};
