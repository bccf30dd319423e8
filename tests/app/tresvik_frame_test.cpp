#include <array>
#include <filesystem>
#include <fstream>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>
#include <gmock/gmock.h>
#include <opencv2/core/utility.hpp>

#include <wx/app.h>
#include <wx/dcmemory.h>
#include <wx/menu.h>
#include <wx/toolbar.h>
#include <wx/utils.h>

#include "app/live_view.h"
#include "app/tresvik_frame.h"
#include "app/tresvik_options.h"
#include "browser/database_cells.h"
#include "browser/viewer_dialog.h"
#include "harness/child_process.h"
#include "log/log_viewer.h"
#include "log/thread_events.h"
#include "recording/session_store.h"
#include "tests/browser/scripted_prompts.h"
#include "tests/camera/camera_double.h"
#include "tests/recording/raw_session.h"
#include "tests/support/event_recorder.h"
#include "tests/support/temp_home.h"

namespace {
using testing::AllOf;
using testing::HasSubstr;
using testing::Not;

// The id as the log file holds it: a row's message is text, so its '>' is written as an entity.
const std::string logged_camera_id = "TL=&gt;GevTL , INT=&gt;SD , DEV=&gt;cam1";

// Starts with a first start's window: no settings file and no camera.
struct frame_fixture : testing::Test {
    temp_home home;
    const bool no_cameras = (camera_double::reset(), true); // before the window looks for cameras
    std::vector<std::string> boxes;                    // texts of failed camera commands
    tresvik_frame* frame = make_frame();

    tresvik_frame* make_frame(network_ports ports = {0, false}) {
        auto* made = new tresvik_frame(nullptr, id_main_window, L"Подвагонные камеры",
                                       wxDefaultPosition, wxDefaultSize, ports);
        made->show_failures_with(
            nullptr, [this](const wxString& text) { boxes.push_back(text.ToStdString()); });
        return made;
    }
    ~frame_fixture() override { delete frame; }
    // Until the recorder has run every command and the window has its reports.
    void settle() {
        ASSERT_TRUE(eventually([&] {
            wxTheApp->ProcessPendingEvents();
            return !frame->current_command_state().recorder_busy;
        }));
        wxTheApp->ProcessPendingEvents();
    }

    // What the window's log pane received: what it wrote to the log file.
    std::string log_text() const {
        auto* pane = wxDynamicCast(frame->FindWindow(id_log_pane), log_viewer);
        return pane->received_text().ToStdString();
    }
    std::string settings_path() const { return home.path() + "/Velmora3/config/.tresvik"; }
    template <typename Value>
    void post(const wxEventTypeTag<wxThreadEvent>& type, const Value& value) {
        post_report(frame, type, value);
        wxTheApp->ProcessPendingEvents();
    }
    wxString status(int field) const { return frame->GetStatusBar()->GetStatusText(field); }
    // A menu command by default; the text goes with it, as a combo box's choice does.
    void command(int id, wxEventType type = wxEVT_MENU, const wxString& text = "") {
        wxCommandEvent event(type, id);
        event.SetString(text);
        frame->GetEventHandler()->ProcessEvent(event);
    }
    // A new window over one camera of 64 x 48 Mono8 pixels on a fresh camera layer.
    void reopen(network_ports ports = {0, false}) {
        delete frame;
        camera_double::reset();
        camera = camera_double::add_camera(
            {"TL=>GevTL , INT=>SD , DEV=>cam1", "GO-5000M", "127.0.0.1", 64, 48});
        frame = make_frame(ports);
        settle();
    }
    camera_double::scripted_camera camera{""};
    // A control on the toolbar, else the menu item; a tool of the same id must agree.
    bool enabled(int id) {
        frame->UpdateWindowUI(wxUPDATE_UI_RECURSE);
        const bool on = id == id_camera_list || id == id_exposure_list
                            ? frame->FindWindow(id)->IsEnabled()
                            : frame->GetMenuBar()->IsEnabled(id);
        wxToolBar& tools = *frame->GetToolBar();
        EXPECT_TRUE(!tools.FindById(id) || tools.GetToolEnabled(id) == on) << id;
        return on;
    }
    wxListCtrl* list() { return wxDynamicCast(frame->FindWindow(id_database_list), wxListCtrl); }
    scripted_prompts& script() {
        auto* prompts = new scripted_prompts; // owned by the window
        frame->use_prompts(std::unique_ptr<scripted_prompts>(prompts));
        return *prompts;
    }
    // Lets the capture thread's queued events reach the window until the text is in the log.
    bool log_shows(const std::string& text) {
        return eventually([&] {
            wxTheApp->ProcessPendingEvents();
            return log_text().find(text) != std::string::npos;
        });
    }
};
} // namespace

// A first start with no camera and no settings file: the start-up rows in order. A
// frame queued before a stop finds no capture and leaves the status bar alone; of statuses that
// come faster than the bar is redrawn, the last shows. "Выход" closes the
// window, and nothing is written to the settings. Other thread events: the commands' test.
TEST_F(frame_fixture, a_first_start_logs_its_rows_in_order_and_shows_thread_events) {
    frame->SetStatusText("before", 1);
    post(EVT_THREAD_NEW_FRAME, frame_notice{1, 0, 19});
    EXPECT_EQ(status(1), "before");
    post(EVT_THREAD_RECORD_STATUS, record_status{7, 10000, 1, {}});
    EXPECT_EQ(status(2), L"ДПП[7]: 10000 Записано кадров: 1");
    for (std::uint32_t dpp : {10001, 10002})
        post(EVT_THREAD_RECORD_STATUS, record_status{7, dpp, 2, {}});
    EXPECT_TRUE(eventually([&] {
        wxTheApp->Yield();
        return status(2) == L"ДПП[7]: 10002 Записано кадров: 2";
    })) << "the last text shows";
    post_thread_event(frame, EVT_THREAD_LOG_ERROR, "Error reading serial serial_port.");
    settle();
    const std::string text = log_text();
    EXPECT_FALSE(std::filesystem::is_empty(home.path() + "/Velmora3/log"));
    EXPECT_THAT(text, HasSubstr("<font color='red'>Error reading serial serial_port.</font>"));
    size_t at = 0;
    for (const std::string& row :
         {std::string("Начало работы. Версия: 650"), std::string("JAI camera double"),
          "OpenCV " + cv::getVersionString(),
          wxGetLibraryVersionInfo().GetVersionString().ToStdString(),
          "Компьютер: " + wxGetHostName().ToStdString() + " (", std::string("Борт: не определен"),
          std::string("0 camera(s) detected")})
        EXPECT_NE(at = text.find("<font color='blue'>" + row, at), std::string::npos) << row;
    command(id_exit);
    EXPECT_TRUE(frame->IsBeingDeleted() || wxPendingDelete.Member(frame));
    wxTheApp->ProcessIdle();
    frame = nullptr;
    EXPECT_FALSE(std::ifstream(settings_path()).good());
}

// Columns: no camera and no session listed; a camera and the session listed (the write path set
// in the options is indexed at start-up, the stored side is in its row); the session selected; a
// capture starting, held inside the camera layer while the window goes on answering; capturing.
// The ruler set in the options reaches the viewer, which takes over a session the data service
// holds open (a client fetched a frame). A session recorded meanwhile shows once the capture has
// stopped; a folder that is no session is one row at start-up. Another program on the data
// service's port costs the service, and nothing else. An update reopens the camera still listed;
// an enumeration that fails leaves the list as it was. A camera that refuses the exposure mode or
// gives no geometry fails the command with its box; the setting is written all the same, and
// shown at the next start.
TEST_F(frame_fixture, cameras_and_commands_follow_the_settings_the_selection_and_the_capture) {
    const struct {
        int id;
        std::array<bool, 5> on;
    } table[] = {
        {id_options, {1, 1, 1, 1, 0}},       {id_exit, {1, 1, 1, 1, 1}},
        {id_capture, {0, 1, 1, 0, 0}},       {id_capture_record, {0, 1, 1, 0, 0}},
        {id_stop, {0, 0, 0, 0, 1}},          {id_update_cameras, {1, 1, 1, 0, 0}},
        {id_camera_list, {1, 1, 1, 0, 0}},   {id_update_databases, {1, 1, 1, 1, 0}},
        {id_view_database, {0, 0, 1, 1, 0}}, {id_delete_database, {0, 0, 1, 1, 0}},
        {id_replace_side, {1, 1, 1, 1, 1}},  {id_replace_session_code, {1, 1, 1, 1, 1}},
        {id_exposure_list, {1, 1, 1, 1, 1}},
    };
    const auto check = [&](int column) {
        for (const auto& row : table)
            EXPECT_EQ(enabled(row.id), row.on[column]) << row.id << " in column " << column;
    };
    settle();
    check(0);
    using namespace boost::asio;
    io_context events;
    ip::tcp::acceptor taken(events, {ip::tcp::v4(), 0});
    const std::string port = std::to_string(taken.local_endpoint().port());
    const std::uint16_t telemetry =
        ip::udp::socket(events, {ip::udp::v4(), 0}).local_endpoint().port();
    temp_dir root;
    write_raw_session(root.path() + "/a", {{"0000000007", jpeg_of(test_frame(1))},
                                           {"dpp_end", "0000000007"},
                                           {"dpp_start", "0000000007"},
                                           {"session", "A7 : 12"}});
    scripted_prompts& prompts = script();
    command(id_options);
    EXPECT_FALSE(std::ifstream(settings_path()).good()) << "cancelled: nothing written";
    prompts.modal = [&](wxDialog& dialog) {
        wxPropertyGrid& grid = *dynamic_cast<tresvik_options&>(dialog).grid();
        grid.SetPropertyValue("write_path", wxString(root.path()));
        grid.SetPropertyValue("scale", 1.5);
        grid.SetPropertyValue("show_scale", false);
        grid.SetPropertyValue("data_service_port", wxString(port));
        dynamic_cast<tresvik_options&>(dialog).accept();
        return true;
    };
    command(id_options);
    EXPECT_EQ(read_file(settings_path()),
              "side=левый\ndriver=SocketDriver\nrotate180=0\nshow_scale=0\nscale=1.5\nwrite_path=" +
                  root.path() +
                  "\ndpp_port=COM1\ncoordinate_server_address=127.0.0.1\ncoordinate_server_port="
                  "12500\ndata_service_port=" +
                  port + "\narchive_remote=\narchive_car=" + wxGetHostName().ToStdString() +
                  "\narchive_rclone_config=" + home.path() +
                  "/Velmora3/config/rclone.conf\narchive_bwlimit=\nmin_free_space=10%\n"
                  "loop_recording=0\n")
        << "all sixteen, flushed";
    EXPECT_EQ(list()->GetItemCount(), 1);
    std::filesystem::create_directory(root.path() + "/photos");
    reopen({telemetry, true});
    const std::string started = log_text(), damaged = "Session folder " + root.path() + "/photos ";
    EXPECT_THAT(started, HasSubstr(damaged + "cannot be read: Invalid argument"));
    EXPECT_EQ(started.find(damaged), started.rfind(damaged)) << "one scan at start-up";
    ASSERT_TRUE(log_shows("'red'>bind: Address already in use (data service port " + port + ")"));
    EXPECT_THAT(log_text(), AllOf(HasSubstr("Борт: левый"), HasSubstr("JAI "),
                                  HasSubstr("1 camera(s) detected"),
                                  HasSubstr("'blue'>" + logged_camera_id + "</font>"),
                                  HasSubstr("Active camera selected: " + logged_camera_id)));
    auto* cameras = wxDynamicCast(frame->FindWindow(id_camera_list), wxComboBox);
    EXPECT_EQ(cameras->GetValue(), "GO-5000M 127.0.0.1 [SocketDriver]");
    command(id_update_cameras);
    settle();
    EXPECT_EQ(camera_double::open_resources().cameras, 1u);
    camera_double::fail("discover");
    command(id_update_cameras);
    settle();
    EXPECT_THAT(log_text(), HasSubstr("'red'>Error updating camera list."));
    EXPECT_EQ(cameras->GetCount(), 1u);
    EXPECT_THAT(run_program({built_program("tresvik-client"), "status", "--port",
                             std::to_string(telemetry)})
                    .out,
                HasSubstr("<subsystem name="));
    wxListCtrl* list = this->list();
    ASSERT_EQ(list->GetItemCount(), 1);
    EXPECT_EQ(list->GetItemText(0, 0), "A7 : 12");
    check(1);
    list->SetItemState(0, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    check(2);
    std::vector<std::string> shown;
    script().modal = [&](wxDialog& dialog) {
        const VImagePanel& panel = dynamic_cast<viewer_dialog&>(dialog).panel();
        shown.push_back(std::to_string(panel.ruler_scale()) + (panel.ruler_visible() ? " on" : ""));
        return true;
    };
    ASSERT_TRUE(frame->sessions().read_indexed_frame(L"A7 : 12", 7));
    command(id_view_database);
    EXPECT_EQ(shown, std::vector<std::string>{"1.500000"});
    const std::string width = "integer Width";
    const std::size_t widths = camera_double::count_calls(width);
    camera_double::hold(width);
    command(id_capture);
    ASSERT_TRUE(eventually([&] { return camera_double::count_calls(width) > widths; }));
    check(3);
    camera_double::release_hold();
    settle();
    check(4);
    ASSERT_TRUE(eventually([&] { return camera.acquiring() && camera.free_buffers() == 20; }));
    for (std::uint64_t t = 1; t <= 10; ++t)
        ASSERT_TRUE(camera.deliver(std::vector<std::uint8_t>(64 * 48, 200), t));
    ASSERT_TRUE(eventually([&] {
        wxTheApp->Yield(); // the statuses' timer too
        return status(1).StartsWith("timestamp: 10 ");
    }));
    EXPECT_TRUE(status(0).StartsWith("delivered: "));
    wxBitmap live(640, 480);
    {
        wxMemoryDC dc(live);
        dynamic_cast<live_view&>(*frame->FindWindow(id_camera_panel)).paint(dc);
    }
    EXPECT_EQ(live.ConvertToImage().GetRed(63, 47), 200) << "the newest frame in the live view";
    write_raw_session(root.path() + "/b", {{"version", "1"}});
    command(id_stop);
    EXPECT_EQ(list->GetItemCount(), 1) << "refreshed once the capture has stopped";
    settle();
    EXPECT_EQ(list->GetItemCount(), 2);
    EXPECT_FALSE(enabled(id_stop));
    EXPECT_TRUE(log_shows("'blue'>Condition wait exit"));
    EXPECT_FALSE(camera.acquiring());
    command(id_exposure_list, wxEVT_COMBOBOX, "ContinuousPreset2");
    settle();
    EXPECT_EQ(camera.exposure_mode(), "ContinuousPreset2");
    EXPECT_THAT(log_text(), HasSubstr("Exposure mode selected: ContinuousPreset2"));
    camera_double::fail("set_text ExposureMode");
    command(id_exposure_list, wxEVT_COMBOBOX, "ContinuousPreset5");
    camera_double::fail(width);
    command(id_capture);
    settle();
    EXPECT_EQ(boxes, (std::vector<std::string>{"Error setting exposure mode.",
                                               "Error getting frame width."}));
    check(2);
    EXPECT_THAT(read_file(settings_path()), Not(HasSubstr("exposure")))
        << "written when the window goes";
    reopen();
    EXPECT_THAT(read_file(settings_path()), HasSubstr("\nexposure_mode=ContinuousPreset5\n"));
    EXPECT_EQ(wxDynamicCast(frame->FindWindow(id_exposure_list), wxComboBox)->GetValue(),
              "ContinuousPreset5");
}

// With a folder as the remote, the session is copied by the real rclone and its cell follows;
// a refused setting is a row at start-up. The options turn the archive off: dashes. Reports of
// retention and failures are rows, red where something is lost or stuck; a deleted session's row
// goes.
TEST_F(frame_fixture, the_archive_column_and_rows_follow_the_archive) {
    temp_dir root, depot;
    write_raw_session(root.path() + "/a", recorded_session());
    std::filesystem::create_directories(home.path() + "/Velmora3/config");
    std::ofstream(settings_path())
        << "write_path=" << root.path() << "\narchive_remote=" << depot.path()
        << "\narchive_car=car\nmin_free_space=lots\n";
    reopen();
    EXPECT_THAT(log_text(), HasSubstr("'red'>Настройка min_free_space: значение \"lots\""));
    ASSERT_TRUE(eventually([&] {
        wxTheApp->ProcessPendingEvents();
        return list()->GetItemText(0, archive_column) == L"в архиве";
    }));
    EXPECT_TRUE(std::filesystem::exists(depot.path() + "/car/a/CURRENT"));
    EXPECT_THAT(log_text(), HasSubstr("'blue'>Сеанс a в архиве: "));
    script().modal = [&](wxDialog& dialog) {
        dynamic_cast<tresvik_options&>(dialog).grid()->SetPropertyValue("archive_remote", "");
        dynamic_cast<tresvik_options&>(dialog).accept();
        return true;
    };
    command(id_options);
    EXPECT_EQ(list()->GetItemText(0, archive_column), L"—");
    const struct {
        archive_report::kind what;
        bool archived;
        const char* row;
    } reports[] = {
        {archive_report::kind::deleted, true, "'blue'>Сеанс a удалён (есть в архиве)"},
        {archive_report::kind::deleted, false, "'red'>Сеанс a удалён, не попав в архив"},
        {archive_report::kind::disk_full, false, "'red'>Диск заполнен: свободно 1.0 KB, нужно"},
        {archive_report::kind::failed, false, "'red'>Архив: bucket missing"}};
    for (const auto& r : reports) {
        post(EVT_THREAD_ARCHIVE,
             archive_report{r.what, "a", {}, 0, 1024, 0, 0, r.archived, "bucket missing"});
        EXPECT_THAT(log_text(), HasSubstr(r.row));
    }
    EXPECT_EQ(list()->GetItemCount(), 0);
}
