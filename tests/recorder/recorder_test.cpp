#include "recorder/recorder.h"

#include <algorithm>
#include <filesystem>
#include <thread>

#include <gmock/gmock.h>

#include "archive/archive_disk.h"
#include "harness/child_process.h"
#include "harness/temp_dir.h"
#include "recording/session_store.h"
#include "tests/camera/camera_double.h"
#include "tests/recording/raw_session.h"
#include "tests/support/event_recorder.h"
#include "tests/support/small_volume.h"

namespace {
// The owner of a recorder or an archive runner, keeping the archive's reports in order.
struct archive_owner : event_recorder {
    std::vector<archive_report> reports;
    archive_owner() {
        Bind(EVT_THREAD_ARCHIVE,
             [this](wxThreadEvent& e) { reports.push_back(e.GetPayload<archive_report>()); });
    }
    // The first report of the kind; null when none has come.
    const archive_report* first(archive_report::kind what) const {
        for (const archive_report& report : reports)
            if (report.what == what)
                return &report;
        return nullptr;
    }
    // Dispatches until that many reports of the kind have come.
    bool reported(archive_report::kind what, long count) {
        return pump_until([&] {
            return std::count_if(reports.begin(), reports.end(),
                                 [&](const archive_report& r) { return r.what == what; }) >= count;
        });
    }
};
} // namespace

// Commands return at once and run in order on the recorder's thread, the first here held inside
// the camera layer meanwhile; the live frame is read while the capture runs. A camera that stops
// answering is closed, and opened again, capturing, once it is back. The camera and the camera
// layer are closed when the recorder goes.
TEST(recorder, commands_run_in_order_on_its_thread_while_the_caller_reads_the_live_frame) {
    camera_double::reset();
    const auto camera = camera_double::add_camera({"TL=>GevTL , INT=>SD , DEV=>cam0"});
    camera.set_int("ExposureTime", 5000);
    event_recorder owner;
    session_store sessions;
    {
        recorder machinery(&owner, sessions);
        camera_double::hold("discover");
        machinery.find_cameras(L"SocketDriver");
        machinery.start_capture({L"правый", false});
        ASSERT_TRUE(eventually([] { return camera_double::count_calls("discover"); }));
        EXPECT_TRUE(machinery.state().busy);
        EXPECT_FALSE(machinery.state().camera_open);
        camera_double::release_hold();
        ASSERT_TRUE(eventually([&] { return camera.acquiring(); }));
        ASSERT_TRUE(camera.deliver(std::vector<std::uint8_t>(32, 7), 1));
        live_frame shown;
        ASSERT_TRUE(eventually([&] {
            return machinery.copy_live_frame(shown, {5, 40}) && shown.timestamp == 1;
        }));
        EXPECT_EQ(shown.image.size(), cv::Size(5, 4)) << "the part the panel shows";
        EXPECT_EQ(shown.image.at<std::uint8_t>(3, 4), 7);
        EXPECT_EQ(shown.overlay, L"правый");
        shown.image.at<std::uint8_t>(0, 0) = 99;
        EXPECT_TRUE(machinery.copy_live_frame(shown, {5, 40}));
        EXPECT_EQ(shown.image.at<std::uint8_t>(0, 0), 99) << "a frame met again is not copied";
        EXPECT_THAT(owner.strings(EVT_THREAD_LOG_INFO),
                    testing::Contains("Exposure time: 5000 us, gain: 0"));
        camera.set_present(false);
        ASSERT_TRUE(eventually([&] { return !machinery.state().camera_open; }));
        camera.set_present(true);
        ASSERT_TRUE(eventually([&] { return camera.acquiring() && machinery.state().capturing; }));
        machinery.stop_capture();
        ASSERT_TRUE(eventually([&] { return !machinery.state().busy; }));
        EXPECT_FALSE(machinery.capturing());
        EXPECT_FALSE(machinery.copy_live_frame(shown, {5, 40}));
        EXPECT_TRUE(machinery.state().camera_open);
        EXPECT_EQ(machinery.state().cameras,
                  std::vector<std::wstring>{L"FakeCam 127.0.0.1 [SocketDriver]"});
    }
    const camera_double::resources open = camera_double::open_resources();
    EXPECT_EQ(open.layers + open.cameras + open.streams, 0u);
}

// The archiver copies with the real rclone to a folder remote, and again to a new remote when
// configured anew; woken, it copies a new session at once; without a remote none runs, while
// retention, asked for more room than the volume has, deletes the archived session and says the
// disk is full.
TEST(archive_runner, configured_anew_it_copies_to_the_new_remote_and_retention_follows) {
    temp_dir root, first, second;
    write_raw_session(root.path() + "/a", recorded_session());
    archive_owner owner;
    session_store sessions(root.path());
    archive_runner runner(&owner, sessions);
    archive_settings settings;
    settings.archive = {root.path(), first.path(), "car", root.path() + "/no.conf", ""};
    settings.retention = {root.path(), *parse_free_space("1%")};
    runner.configure(settings);
    ASSERT_TRUE(owner.reported(archive_report::kind::archived, 1));
    settings.archive.remote = second.path();
    runner.configure(settings);
    ASSERT_TRUE(owner.reported(archive_report::kind::archived, 2));
    EXPECT_TRUE(std::filesystem::exists(second.path() + "/car/a/CURRENT"));
    write_raw_session(root.path() + "/b", recorded_session());
    runner.wake();
    ASSERT_TRUE(owner.reported(archive_report::kind::archived, 3)) << "woken, not after 30 s";
    settings.archive.remote.clear();
    settings.retention.goal = *parse_free_space("99%");
    runner.configure(settings);
    ASSERT_TRUE(owner.reported(archive_report::kind::disk_full, 1));
    runner.before_new_session();
    const auto deleted = owner.first(archive_report::kind::deleted);
    ASSERT_NE(deleted, nullptr);
    EXPECT_EQ(deleted->session + (deleted->archived ? " archived" : ""), "a archived");
    EXPECT_FALSE(std::filesystem::exists(root.path() + "/a"));
}

// Recording into a tmpfs of 8 MB that three older sessions of about 1 MB share, with 30 % to be
// kept free, from the odometer simulator at 10 counts a second and camera frames that no codec
// shrinks: a table of about 3 MB a second fills the disk within a few seconds. With nothing
// archived the disk is full once, the older sessions stay and recording goes on trying; archived
// sessions, or with loop recording unarchived ones, go oldest first before a session opens, and
// recording resumes. One volume a test process: the engine's one background thread, started with
// the first session, sees only the volumes mounted before it.
void record_onto_a_filling_disk(bool archived, bool loop) {
    camera_double::reset();
    const auto camera = camera_double::add_camera(
        {"TL=>GevTL , INT=>SD , DEV=>cam0", "FakeCam", "127.0.0.1", 640, 480});
    temp_dir root;
    const small_volume volume(root.path(), "8m");
    const auto old_path = [&](int n) {
        return root.path() + "/2000.01.01 00.00.0" + std::to_string(n);
    };
    archive_records records;
    for (int n = 0; n < 3; ++n) {
        write_raw_session(old_path(n), megabyte_session());
        records[std::filesystem::path(old_path(n)).filename().string()] = {
            fingerprint_of(folder_files(old_path(n))), "depot:fleet/car"};
    }
    if (archived)
        save_records(root.path(), records);
    archive_owner owner;
    session_store sessions(root.path());
    recorder machinery(&owner, sessions);
    machinery.configure_archive({{}, {root.path(), *parse_free_space("30%"), loop}});
    const auto configured = std::chrono::steady_clock::now();
    machinery.find_cameras(L"SocketDriver");
    child_process odometer({built_program("tresvik-odometer-sim"), "--pty", "--format", "b",
                            "--rate", "10", "--speed", "1000", "--profile", "cruise"});
    const auto device = odometer.line_after("odometer on ");
    ASSERT_TRUE(device);
    machinery.start_recording({L"левый", false}, {*device, "127.0.0.1", "1", root.path(), "левый"});
    std::uint64_t timestamp = 0;
    const auto record_until = [&](const std::function<bool()>& done) {
        return owner.pump_until([&] {
            const cv::Mat frame = test_frame(timestamp % 8, 480, 640);
            camera.deliver({frame.datastart, frame.dataend}, ++timestamp);
            std::this_thread::sleep_for(std::chrono::milliseconds(15));
            return done();
        });
    };
    const auto resumed = [&] {
        const auto rows = owner.texts(EVT_THREAD_LOG_INFO);
        return std::any_of(rows.begin(), rows.end(), [](const wxString& row) {
            return row.StartsWith(L"Запись возобновлена");
        });
    };
    if (!archived && !loop) {
        ASSERT_TRUE(record_until([&] { return owner.first(archive_report::kind::disk_full); }));
        const std::size_t statuses = owner.texts(EVT_THREAD_RECORD_STATUS).size();
        EXPECT_TRUE(record_until(
            [&] { return owner.texts(EVT_THREAD_RECORD_STATUS).size() > statuses + 20; }));
        EXPECT_FALSE(owner.first(archive_report::kind::deleted));
        for (int n = 0; n < 3; ++n)
            EXPECT_TRUE(std::filesystem::exists(old_path(n)));
    } else {
        ASSERT_TRUE(
            record_until([&] { return owner.first(archive_report::kind::deleted) && resumed(); }));
        const auto deleted = owner.first(archive_report::kind::deleted);
        EXPECT_EQ(deleted->session, "2000.01.01 00.00.00");
        EXPECT_EQ(deleted->archived, archived);
        const std::chrono::duration<double> taken = std::chrono::steady_clock::now() - configured;
        EXPECT_LT(taken.count(), 9)
            << "room made before a session opened, not by the pass every 10 s";
    }
    machinery.stop_capture();
}

TEST(recorder, a_filling_disk_with_nothing_archived_is_reported_full_and_recording_goes_on) {
    record_onto_a_filling_disk(false, false);
}

TEST(recorder, a_filling_disk_makes_room_from_the_oldest_archived_session) {
    record_onto_a_filling_disk(true, false);
}

TEST(recorder, a_filling_disk_under_loop_recording_makes_room_from_the_oldest_session) {
    record_onto_a_filling_disk(false, true);
}
