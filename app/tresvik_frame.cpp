#include "app/tresvik_frame.h"

#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>
#include <wx/dcclient.h>
#include <wx/menu.h>
#include <wx/stattext.h>
#include <wx/toolbar.h>
#include <wx/utils.h>

#include "app/tool_icons.h"
#include "app/tresvik_options.h"
#include "base/constants.h"
#include "base/encoding.h"
#include "browser/database_list.h"
#include "camera/exposure_modes.h"
#include "log/log_viewer.h"
#include "log/thread_events.h"
#include "recording/session_store.h"
#include "service/data_service.h"
#include "service/telemetry.h"
#include "settings/settings.h"
#include "settings/settings_store.h"

namespace {
// Wide enough for "<model> <address> [SocketDriver]".
constexpr int camera_list_width = 360;

template <typename Thread> void stop_and_delete(std::unique_ptr<Thread>& thread) {
    if (!thread)
        return;
    thread->stop();
    thread->Wait();
    thread.reset();
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
    EVT_UPDATE_UI(id_options, tresvik_frame::on_update_ui)
    EVT_UPDATE_UI(id_capture, tresvik_frame::on_update_ui)
    EVT_UPDATE_UI(id_capture_record, tresvik_frame::on_update_ui)
    EVT_UPDATE_UI(id_stop, tresvik_frame::on_update_ui)
    EVT_UPDATE_UI(id_camera_list, tresvik_frame::on_update_ui)
    EVT_UPDATE_UI(id_update_cameras, tresvik_frame::on_update_ui)
    EVT_UPDATE_UI(id_update_databases, tresvik_frame::on_update_ui)
    EVT_UPDATE_UI(id_view_database, tresvik_frame::on_update_ui)
    EVT_UPDATE_UI(id_delete_database, tresvik_frame::on_update_ui)
wxEND_EVENT_TABLE()
    // clang-format on

    tresvik_frame::tresvik_frame(wxWindow* parent, wxWindowID id, const wxString& title,
                                 const wxPoint& pos, const wxSize& size, const network_ports& ports)
    : wxFrame(parent, id, title, pos, size, wxDEFAULT_FRAME_STYLE | wxMAXIMIZE),
      factory_(open_factory()) {
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
    update_camera_list();
    CreateStatusBar(4);
    build_toolbar();
    show_stored_exposure_mode();
    select_preferred_camera();
    index_stored_write_path();
    start_network_threads(ports);
}

tresvik_frame::~tresvik_frame() {
    stop_network_threads();
    aui_manager_.UnInit();
    settings_.reset();
    grab_mode_.reset();
    cameras_.clear();
    exposure_mode_.clear();
    camera_.reset();
    J_Factory_Close(factory_);
}

void tresvik_frame::bind_thread_events() {
    Bind(EVT_THREAD_NEW_FRAME, &tresvik_frame::on_new_frame, this);
    Bind(EVT_THREAD_STREAM_STATS, &tresvik_frame::on_stream_stats, this);
    Bind(EVT_THREAD_RECORD_STATUS, &tresvik_frame::on_record_status, this);
    Bind(EVT_THREAD_LOG_ERROR, &tresvik_frame::on_log_error, this);
    Bind(EVT_THREAD_LOG_INFO, &tresvik_frame::on_log_info, this);
    Bind(EVT_THREAD_SERVICE_DOWN, &tresvik_frame::on_service_down, this);
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
    camera_panel_ = new wxPanel(this, id_camera_panel, wxDefaultPosition, wxDefaultSize,
                                wxTAB_TRAVERSAL | wxNO_BORDER);
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
                                  wxSize(camera_list_width, -1), camera_descriptions_,
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

void tresvik_frame::show_stored_exposure_mode() {
    exposure_mode_ = read_exposure_mode(*settings_);
    exposure_list_->SetStringSelection(exposure_mode_);
}

command_state tresvik_frame::current_command_state() const {
    command_state state;
    state.capturing = grab_mode_ != nullptr;
    state.camera_open = camera_ != nullptr;
    state.database_listed = database_list_->entry_count() > 0;
    state.database_selected = database_list_->GetSelectedItemCount() > 0;
    return state;
}

void tresvik_frame::on_exit(wxCommandEvent&) {
    Close(true);
}

// The setting is written even when the camera refuses the mode; the refusal leaves the handler
// and is shown in a box.
void tresvik_frame::on_exposure_selected(wxCommandEvent& event) {
    exposure_mode_ = event.GetString();
    write_exposure_mode(*settings_, exposure_mode_);
    if (!camera_)
        return;
    set_exposure_mode(camera_->handle(), narrow_text(exposure_mode_.ToStdWstring()));
    log_info(wxString::Format("Exposure mode selected: %s", exposure_mode_));
}

void tresvik_frame::on_camera_selected(wxCommandEvent& event) {
    camera_.reset();
    select_camera(event.GetString());
}

void tresvik_frame::on_update_cameras(wxCommandEvent&) {
    const wxString shown = camera_list_->GetValue();
    camera_.reset();
    update_camera_list();
    camera_list_->Set(camera_descriptions_);
    select_camera(shown);
}

// An enumeration that fails leaves the previous list in place.
void tresvik_frame::update_camera_list() {
    try {
        cameras_ = enumerate_cameras(factory_);
    } catch (const std::exception& e) {
        log_error(e.what());
        return;
    }
    log_info(wxString::Format("%u camera(s) detected", unsigned(cameras_.size())));
    camera_descriptions_.clear();
    for (const auto& [description, camera_id] : cameras_) {
        camera_descriptions_.Add(wide_text(description));
        log_info(readable_text(camera_id));
    }
}

// A description no longer listed (the camera went between two updates) is passed over silently.
void tresvik_frame::select_camera(const wxString& description) {
    camera_list_->SetValue(description);
    const auto entry = cameras_.find(narrow_text(description.ToStdWstring()));
    if (entry == cameras_.end())
        return;
    try {
        camera_ = std::make_shared<JAI_Camera>(factory_, entry->second);
    } catch (const std::exception& e) {
        log_error(e.what());
        return;
    }
    log_info(wxString::Format("Active camera selected: %s", entry->second));
}

void tresvik_frame::select_preferred_camera() {
    const std::string preferred =
        preferred_description(cameras_, narrow_text(read_driver(*settings_).ToStdWstring()));
    if (!preferred.empty())
        select_camera(wide_text(preferred));
}

// Without the key nothing is scanned: the database list stays empty until the operator chooses.
void tresvik_frame::index_stored_write_path() {
    wxString root;
    if (!read_stored_write_path(*settings_, &root))
        return;
    sessions_.set_root(narrow_text(root.ToStdWstring()));
    database_commands_->refresh();
}

// The telemetry socket is bound here: a failure leaves the constructor, and the program does not
// start. The data service reports its own failure and the program goes on without it.
void tresvik_frame::start_network_threads(const network_ports& ports) {
    service_thread_ =
        ports.data_service_from_settings
            ? std::make_unique<service_thread>(this, sessions_, read_data_service_port(*settings_))
            : std::make_unique<service_thread>(this, sessions_, any_free_port);
    if (service_thread_->Run() != wxTHREAD_NO_ERROR)
        service_thread_.reset();
    telemetry_thread_ =
        std::make_unique<telemetry_thread>(this, sessions_, read_side(*settings_), ports.telemetry);
    if (telemetry_thread_->Run() != wxTHREAD_NO_ERROR)
        telemetry_thread_.reset();
}

// Telemetry first, then the data service, whose connections end before anything they read goes.
void tresvik_frame::stop_network_threads() {
    stop_and_delete(telemetry_thread_);
    stop_and_delete(service_thread_);
}

void tresvik_frame::on_update_ui(wxUpdateUIEvent& event) {
    event.Enable(is_command_enabled(event.GetId(), current_command_state()));
}

// Geometry errors leave the handler and are shown in a box; no capture starts then.
void tresvik_frame::on_capture(wxCommandEvent&) {
    grab_mode_ = std::make_shared<continuous_grab>(this, *settings_, camera_->handle());
}

void tresvik_frame::on_capture_record(wxCommandEvent&) {
    grab_mode_ =
        std::make_shared<continuous_grab_write>(this, sessions_, *settings_, camera_->handle());
}

void tresvik_frame::on_stop(wxCommandEvent&) {
    grab_mode_.reset();
    database_commands_->refresh();
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
    sessions_.set_root(narrow_text(read_write_path(*settings_).ToStdWstring()));
    database_commands_->refresh();
}

void tresvik_frame::on_update_databases(wxCommandEvent&) {
    database_commands_->refresh();
}

void tresvik_frame::on_view_database(wxCommandEvent&) {
    database_commands_->view_selected();
}

void tresvik_frame::on_delete_database(wxCommandEvent&) {
    database_commands_->delete_selected();
}

void tresvik_frame::on_replace_side(wxCommandEvent&) {
    database_commands_->assign_side();
}

void tresvik_frame::on_replace_session_code(wxCommandEvent&) {
    database_commands_->change_session_code();
}

// An event queued before Stop finds no capture and changes nothing.
void tresvik_frame::on_new_frame(wxThreadEvent& event) {
    if (!grab_mode_)
        return;
    draw_live_image();
    SetStatusText(event.GetString(), 1);
}

// Drawn only here, unscaled at the top left; the panel repaints nothing by itself.
void tresvik_frame::draw_live_image() {
    cv::Mat grey;
    grab_mode_->buffer().copy_out(grey);
    if (grey.empty())
        return;
    cv::Mat colour;
    cv::cvtColor(grey, colour, cv::COLOR_GRAY2BGR);
    const wxImage image(colour.cols, colour.rows, colour.data, true);
    wxClientDC dc(camera_panel_);
    dc.DrawBitmap(wxBitmap(image), 0, 0);
    dc.SetTextForeground(*wxGREEN);
    dc.DrawText(grab_mode_->overlay_text(), 10, 10);
}

void tresvik_frame::on_stream_stats(wxThreadEvent& event) {
    SetStatusText(event.GetString(), 0);
}

void tresvik_frame::on_record_status(wxThreadEvent& event) {
    SetStatusText(event.GetString(), 2);
}

void tresvik_frame::on_log_error(wxThreadEvent& event) {
    log_error(event.GetString());
}

void tresvik_frame::on_log_info(wxThreadEvent& event) {
    log_info(event.GetString());
}

// The box a failed worker gets, shown here on the GUI thread, where windows may be made.
void tresvik_frame::on_service_down(wxThreadEvent& event) {
    log_error(event.GetString());
    if (failure_box_)
        failure_box_();
}
