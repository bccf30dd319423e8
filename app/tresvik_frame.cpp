#include "app/tresvik_frame.h"

#include <algorithm>
#include <chrono>

#include <opencv2/core/utility.hpp>
#include <wx/menu.h>
#include <wx/stattext.h>
#include <wx/toolbar.h>
#include <wx/utils.h>

#include "app/live_view.h"
#include "app/tool_icons.h"
#include "app/tresvik_options.h"
#include "base/constants.h"
#include "base/encoding.h"
#include "browser/database_list.h"
#include "camera/exposure_modes.h"
#include "log/log_viewer.h"
#include "log/thread_events.h"
#include "recording/session_store.h"
#include "settings/settings.h"
#include "settings/settings_store.h"

namespace {
// Wide enough for "<model> <address> [SocketDriver]".
constexpr int camera_list_width = 360;

capture_settings read_capture_settings(const wxConfigBase& settings) {
    return {read_side(settings).ToStdWstring(), read_rotate180(settings)};
}

std::string narrow(const wxString& text) {
    return narrow_text(text.ToStdWstring());
}

recording_settings read_recording_settings(const wxConfigBase& settings) {
    return {narrow(read_dpp_port(settings)), narrow(read_coordinate_server_address(settings)),
            narrow(read_coordinate_server_port(settings)), narrow(read_write_path(settings)),
            narrow(read_side(settings))};
}

// The archive's settings; a refused value adds its row to the problems and its default is used.
archive_settings read_archive_settings(const wxConfigBase& settings,
                                       std::vector<wxString>& problems) {
    const auto take = [&](auto checked) {
        if (!checked.problem.empty())
            problems.push_back(checked.problem);
        return checked.value;
    };
    archive_settings read;
    read.archive.root = narrow(read_write_path(settings));
    read.archive.remote = narrow(read_archive_remote(settings));
    read.archive.car = narrow(take(read_archive_car(settings)));
    read.archive.rclone_config = narrow(read_archive_rclone_config(settings));
    read.archive.bandwidth_limit = narrow(take(read_archive_bwlimit(settings)));
    read.retention.root = read.archive.root;
    read.retention.goal = take(read_min_free_space(settings));
    read.retention.loop = take(read_loop_recording(settings));
    return read;
}

wxAuiPaneInfo fixed_pane(const wxString& caption) {
    return wxAuiPaneInfo().Caption(caption).Floatable(false).CloseButton(false);
}
} // namespace

// clang-format off
wxBEGIN_EVENT_TABLE(tresvik_frame, wxFrame)
    EVT_MENU(id_exit, tresvik_frame::on_exit)
    EVT_MENU(id_update_cameras, tresvik_frame::on_update_cameras)
    EVT_MENU(id_capture, tresvik_frame::on_capture)
    EVT_MENU(id_capture_record, tresvik_frame::on_capture_record)
    EVT_MENU(id_stop, tresvik_frame::on_stop)
    EVT_MENU(id_options, tresvik_frame::on_options)
    EVT_MENU(id_update_databases, tresvik_frame::on_update_databases)
    EVT_MENU(id_view_database, tresvik_frame::on_view_database)
    EVT_MENU(id_delete_database, tresvik_frame::on_delete_database)
    EVT_MENU(id_replace_side, tresvik_frame::on_replace_side)
    EVT_MENU(id_replace_session_code, tresvik_frame::on_replace_session_code)
    EVT_COMBOBOX(id_exposure_list, tresvik_frame::on_exposure_selected)
    EVT_COMBOBOX(id_camera_list, tresvik_frame::on_camera_selected)
    // Every command and control; those without a rule of their own stay enabled.
    EVT_UPDATE_UI_RANGE(id_camera_list, id_replace_session_code, tresvik_frame::on_update_ui)
    EVT_TIMER(id_status_timer, tresvik_frame::on_status_timer)
wxEND_EVENT_TABLE()
    // clang-format on

    tresvik_frame::tresvik_frame(wxWindow* parent, wxWindowID id, const wxString& title,
                                 const wxPoint& pos, const wxSize& size, const network_ports& ports)
    : wxFrame(parent, id, title, pos, size, wxDEFAULT_FRAME_STYLE | wxMAXIMIZE),
      recorder_(std::make_unique<recorder>(this, sessions_)) {
    bind_thread_events();
    opened_settings settings = open_settings();
    settings_ = std::move(settings.store);
    build_menus();
    aui_manager_.SetManagedWindow(this);
    log_file_ = prepare_log_file();
    build_panes();
    write_startup_rows();
    for (const wxString& problem : settings.problems)
        log_error(problem);
    recorder_->find_cameras(read_driver(*settings_).ToStdWstring());
    CreateStatusBar(4);
    // The stream statistics are the longest text and the fourth field is never written.
    const int status_widths[] = {-4, -4, -2, -1};
    SetStatusWidths(4, status_widths);
    build_toolbar();
    show_stored_exposure_mode();
    index_stored_write_path();
    configure_archive();
    recorder_->start_network(ports, read_data_service_port(*settings_), read_side(*settings_));
}

// The settings are written before the capture stops, as the recorder goes last.
tresvik_frame::~tresvik_frame() {
    recorder_->stop_network();
    aui_manager_.UnInit();
    settings_.reset();
    recorder_.reset();
}

void tresvik_frame::bind_thread_events() {
    Bind(EVT_THREAD_NEW_FRAME, &tresvik_frame::on_new_frame, this);
    Bind(EVT_THREAD_STREAM_STATS, [this](wxThreadEvent& e) { show_status(0, report_text(e)); });
    Bind(EVT_THREAD_RECORD_STATUS, [this](wxThreadEvent& e) { show_status(2, report_text(e)); });
    Bind(EVT_THREAD_LOG_ERROR, [](wxThreadEvent& e) { log_error(e.GetString()); });
    Bind(EVT_THREAD_LOG_INFO, [](wxThreadEvent& e) { log_info(e.GetString()); });
    Bind(EVT_THREAD_RECORDER_STATE, &tresvik_frame::on_recorder_state, this);
    Bind(EVT_THREAD_SERVICE_DOWN, &tresvik_frame::on_service_down, this);
    Bind(EVT_THREAD_COMMAND_FAILED, &tresvik_frame::on_command_failed, this);
    Bind(EVT_THREAD_ARCHIVE, &tresvik_frame::on_archive, this);
}

void tresvik_frame::build_menus() {
    auto* file = new wxMenu;
    file->Append(id_options, L"Настройки");
    file->Append(id_exit, L"Выход");
    auto* camera = new wxMenu;
    camera->Append(id_capture, L"Захват");
    camera->Append(id_capture_record, L"Захват и запись");
    camera->Append(id_stop, L"Остановить");
    camera->Append(id_update_cameras, L"Обновить список камер");
    auto* processing = new wxMenu;
    processing->Append(id_update_databases, L"Обновить список баз");
    processing->Append(id_view_database, L"Просмотр базы");
    processing->Append(id_delete_database, L"Удаление базы");
    processing->Append(id_replace_side, L"Заменить борт");
    processing->Append(id_replace_session_code, L"Заменить код сеанса");
    auto* bar = new wxMenuBar;
    bar->Append(file, L"Файл");
    bar->Append(camera, L"Камера");
    bar->Append(processing, L"Обработка");
    SetMenuBar(bar);
}

void tresvik_frame::build_panes() {
    camera_panel_ = new live_view(this, id_camera_panel, [this](live_frame& frame, cv::Size size) {
        return recorder_ && recorder_->copy_live_frame(frame, size); // none once shut down
    });
    aui_manager_.AddPane(camera_panel_,
                         fixed_pane(L"Камера").Top().BestSize(640, 480).Resizable(false));
    log_pane_ = new log_viewer(this, log_file_);
    aui_manager_.AddPane(log_pane_, fixed_pane(L"Журнал").Centre().Resizable(true));
    database_list_ = new database_list(this);
    use_prompts(dialog_prompts(this));
    aui_manager_.AddPane(database_list_, fixed_pane(L"Данные").Top().Resizable(true));
    aui_manager_.Update();
}

void tresvik_frame::write_startup_rows() {
    log_info(wxString::Format(L"Начало работы. Версия: %s", TRESVIK_VERSION));
    log_info(wxString::Format("JAI %s", camera_layer_version()));
    log_info(wxString::Format("OpenCV %s", cv::getVersionString()));
    log_info(wxGetLibraryVersionInfo().GetVersionString());
    log_info(wxString::Format(L"Компьютер: %s (%s)", wxGetHostName(), wxGetOsDescription()));
    log_info(wxString::Format(L"Борт: %s", read_side_for_startup_row(*settings_)));
}

void tresvik_frame::build_toolbar() {
    wxToolBar* bar = CreateToolBar();
    bar->SetToolBitmapSize(wxSize(24, 24));
    const wxBitmap camera(camera_xpm), options(options_xpm), exit(exit_xpm);
    bar->AddTool(id_capture, L"Камера", camera, camera);
    bar->AddTool(id_options, L"Настройки", options, options);
    bar->AddTool(id_exit, L"Выход", exit, exit);
    bar->AddControl(new wxStaticText(bar, wxID_ANY, L" Камера: "));
    camera_list_ = new wxComboBox(bar, id_camera_list, wxEmptyString, wxDefaultPosition,
                                  wxSize(camera_list_width, -1), wxArrayString(),
                                  wxCB_DROPDOWN | wxCB_READONLY);
    bar->AddControl(camera_list_);
    bar->AddSeparator();
    bar->AddControl(new wxStaticText(bar, wxID_ANY, L" Выдержка: "));
    wxArrayString modes;
    for (const char* mode : exposure_modes)
        modes.Add(mode);
    exposure_list_ = new wxComboBox(bar, id_exposure_list, wxEmptyString, wxDefaultPosition,
                                    wxDefaultSize, modes, wxCB_DROPDOWN | wxCB_READONLY);
    bar->AddControl(exposure_list_);
    bar->Realize();
}

// Shown, not sent: the camera gets a mode only when the operator picks one.
void tresvik_frame::show_stored_exposure_mode() {
    exposure_list_->SetStringSelection(read_exposure_mode(*settings_));
}

command_state tresvik_frame::current_command_state() const {
    const recorder_state recorder = recorder_->state();
    command_state state;
    state.capturing = recorder.capturing;
    state.camera_open = recorder.camera_open;
    state.recorder_busy = recorder.busy;
    state.database_listed = database_list_->entry_count() > 0;
    state.database_selected = database_list_->GetSelectedItemCount() > 0;
    return state;
}

// The setting is written even when the camera refuses the mode; the refusal comes back as a box.
void tresvik_frame::on_exposure_selected(wxCommandEvent& event) {
    write_exposure_mode(*settings_, event.GetString());
    recorder_->set_exposure_mode(event.GetString().ToStdWstring());
}

// Without the key nothing is scanned: the database list stays empty until the operator chooses.
void tresvik_frame::index_stored_write_path() {
    wxString root;
    if (!read_stored_write_path(*settings_, &root))
        return;
    sessions_.set_root(narrow(root));
    database_commands_->refresh();
}

void tresvik_frame::on_capture(wxCommandEvent&) {
    recorder_->start_capture(read_capture_settings(*settings_));
}

void tresvik_frame::on_capture_record(wxCommandEvent&) {
    recorder_->start_recording(read_capture_settings(*settings_),
                               read_recording_settings(*settings_));
}

void tresvik_frame::use_prompts(std::unique_ptr<operator_prompts> prompts) {
    prompts_ = std::move(prompts);
    database_commands_ =
        std::make_unique<database_commands>(*database_list_, sessions_, *settings_, *prompts_,
                                            [](const wxString& text) { log_error(text); });
}

// The new write path takes effect for the list at once, for recording at the next start.
void tresvik_frame::on_options(wxCommandEvent&) {
    tresvik_options dialog(this, settings_.get());
    if (!prompts_->run_modal(dialog))
        return;
    settings_->Flush();
    sessions_.set_root(narrow(read_write_path(*settings_)));
    database_commands_->refresh();
    configure_archive();
}

// The archive follows the settings as they are now; what they refuse is logged each time.
void tresvik_frame::configure_archive() {
    std::vector<wxString> problems;
    const archive_settings settings = read_archive_settings(*settings_, problems);
    for (const wxString& problem : problems)
        log_error(problem);
    recorder_->configure_archive(settings);
    database_list_->set_archive_on(!settings.archive.remote.empty());
}

// A state goes to the list's column; the rest are rows. A deleted session's row goes.
void tresvik_frame::on_archive(wxThreadEvent& event) {
    const auto report = event.GetPayload<archive_report>();
    if (report.what == archive_report::kind::state)
        database_list_->mark_archive(report.session, {report.state, report.percent});
    const archive_row row = archive_report_row(report);
    if (row.error)
        log_error(row.text);
    else if (!row.text.empty())
        log_info(row.text);
    if (report.what == archive_report::kind::deleted)
        database_list_->remove_session(report.session);
}

// An event queued before Stop finds no capture and changes nothing.
void tresvik_frame::on_new_frame(wxThreadEvent& event) {
    if (!recorder_->capturing())
        return;
    camera_panel_->frame_arrived();
    show_status(1, report_text(event));
}

void tresvik_frame::show_status(int field, const wxString& text) {
    status_.offer(field, text.ToStdWstring());
    show_due_status();
}

// The timer is armed for the moment the waiting texts are due, and left alone while it runs.
void tresvik_frame::show_due_status() {
    const auto now = status_pacer::clock::now();
    for (const auto& [field, text] : status_.take(now))
        SetStatusText(text, static_cast<int>(field));
    const auto due = status_.due();
    if (!due || status_timer_.IsRunning())
        return;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*due - now);
    status_timer_.StartOnce(std::max(1, static_cast<int>(wait.count())));
}

// The camera list as the recorder has it; "Остановить" refreshes the database list once the
// capture has ended, so that the session just recorded is listed.
void tresvik_frame::on_recorder_state(wxThreadEvent& event) {
    const auto state = event.GetPayload<recorder_state>();
    wxArrayString descriptions;
    for (const std::wstring& description : state.cameras)
        descriptions.Add(description);
    if (descriptions != camera_list_->GetStrings())
        camera_list_->Set(descriptions);
    camera_list_->SetValue(state.shown_camera);
    if (capturing_ && !state.capturing)
        database_commands_->refresh();
    capturing_ = state.capturing;
}

// The boxes are shown here on the GUI thread, where windows may be made.
void tresvik_frame::on_service_down(wxThreadEvent& event) {
    log_error(event.GetString());
    if (worker_box_)
        worker_box_();
}

void tresvik_frame::on_command_failed(wxThreadEvent& event) {
    if (command_box_)
        command_box_(event.GetString());
}
