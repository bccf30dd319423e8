#include <filesystem>
#include <gtest/gtest.h>
#include <leveldb/db.h>
#include <memory>
#include <thread>

#include "recording/recording_step.h"
#include "tests/recording/test_disk.h"
#include "tests/support/event_recorder.h"
#include "tests/support/temp_home.h"

namespace {
std::tm fixed_time() {
    std::tm t{};
    t.tm_year = 2021 - 1900;
    t.tm_mon = 2;
    t.tm_mday = 4;
    t.tm_hour = 12;
    t.tm_min = 5;
    t.tm_sec = 33;
    return t;
}

std::string stored(const std::string& folder, const std::string& key) {
    leveldb::DB* raw = nullptr;
    leveldb::Options options;
    EXPECT_TRUE(leveldb::DB::Open(options, folder, &raw).ok()) << folder;
    std::unique_ptr<leveldb::DB> db(raw);
    std::string value;
    return db && db->Get(leveldb::ReadOptions(), key, &value).ok() ? value : "<missing>";
}

// A camera whose newest frame the test sets; each new frame gets the next timestamp. Snapshots
// copy as the frame buffer does: only a frame the recorder does not know yet.
struct fake_frames {
    cv::Mat image;
    std::uint64_t timestamp = 0;
    int copies = 0;
    void next(int grey) {
        image = cv::Mat(8, 8, CV_8UC1, cv::Scalar(grey));
        ++timestamp;
    }
    std::uint64_t snapshot(cv::Mat& copy, std::uint64_t known) {
        if (timestamp != known) {
            image.copyTo(copy);
            ++copies;
        }
        return timestamp;
    }
};

struct step_fixture : testing::Test {
    temp_dir root;
    event_recorder owner;
    test_disk disk;
    session_writer session{system_unix_seconds, &disk};
    fake_frames camera;
    std::tm now = fixed_time();
    recording_step step{
        &owner, session, root.path(),
        [this](cv::Mat& image, std::uint64_t known) { return camera.snapshot(image, known); },
        [this] { return now; }};

    ~step_fixture() override { session.close(); }
    std::string folder(const std::string& name) const { return root.path() + "/" + name; }
    std::size_t folder_count() const {
        const std::filesystem::directory_iterator all(root.path());
        return static_cast<std::size_t>(std::distance(begin(all), end(all)));
    }
};
} // namespace

TEST(recording_folder, named_after_the_local_time) {
    EXPECT_EQ(session_folder_name(fixed_time()), "2021.03.04 12.05.33");
}

TEST(recording_folder, an_existing_folder_is_never_reused) {
    temp_dir root;
    const std::string name = "2021.03.04 12.05.33";
    EXPECT_EQ(free_session_path(root.path(), name), root.path() + "/" + name);
    std::filesystem::create_directory(root.path() + "/" + name);
    EXPECT_EQ(free_session_path(root.path(), name), root.path() + "/" + name + " (2)");
    std::filesystem::create_directory(root.path() + "/" + name + " (2)");
    EXPECT_EQ(free_session_path(root.path(), name), root.path() + "/" + name + " (3)");
}

// Counts come far more often than frames: each frame is copied out of the camera's buffer and
// stored once, however many counts find it; a session opens with the first count even before a
// frame, and its range starts with the first frame stored.
TEST_F(step_fixture, each_new_camera_frame_is_copied_and_stored_once) {
    step.handle_dpp(100, 4);
    EXPECT_TRUE(session.is_open());
    EXPECT_EQ(owner.texts(EVT_THREAD_RECORD_STATUS).back(), L"ДПП[4]: 100 Записано кадров: 0");
    camera.next(10);
    for (std::uint32_t count = 101; count <= 130; ++count)
        step.handle_dpp(count, 4);
    camera.next(20);
    step.handle_dpp(130, 7);
    EXPECT_EQ(camera.copies, 2);
    EXPECT_EQ(session.frames_written(), 2u);
    EXPECT_EQ(owner.texts(EVT_THREAD_RECORD_STATUS).back(), L"ДПП[7]: 130 Записано кадров: 2");
    EXPECT_TRUE(owner.texts(EVT_THREAD_LOG_INFO).empty()) << "the first count is no reset";
    session.close();
    const std::string first = folder("2021.03.04 12.05.33");
    EXPECT_EQ(stored(first, "dpp_start"), "0000000101");
    EXPECT_EQ(stored(first, "dpp_end"), "0000000130");
}

TEST_F(step_fixture, a_lower_count_starts_a_new_session_beside_the_old_one) {
    camera.next(1);
    step.handle_dpp(100, 4);
    step.handle_dpp(100, 4);
    EXPECT_TRUE(owner.texts(EVT_THREAD_LOG_INFO).empty()) << "an equal count is no reset";
    camera.next(2);
    step.handle_dpp(99, 4);
    EXPECT_EQ(owner.texts(EVT_THREAD_LOG_INFO), std::vector<wxString>{"dpp reset: 100 to 99"});
    EXPECT_EQ(session.frames_written(), 1u);
    session.close();
    EXPECT_EQ(stored(folder("2021.03.04 12.05.33"), "dpp_start"), "0000000100");
    EXPECT_EQ(stored(folder("2021.03.04 12.05.33"), "dpp_end"), "0000000100");
    EXPECT_EQ(stored(folder("2021.03.04 12.05.33 (2)"), "dpp_start"), "0000000099");
}

TEST_F(step_fixture, counter_wrap_is_a_reset_and_large_counts_show_unsigned) {
    camera.next(1);
    step.handle_dpp(4294967295u, 7);
    EXPECT_EQ(owner.texts(EVT_THREAD_RECORD_STATUS).back(),
              L"ДПП[7]: 4294967295 Записано кадров: 1");
    now.tm_sec = 34;
    camera.next(2);
    step.handle_dpp(0, 7);
    EXPECT_EQ(owner.texts(EVT_THREAD_LOG_INFO).back(), "dpp reset: 4294967295 to 0");
    EXPECT_TRUE(std::filesystem::exists(folder("2021.03.04 12.05.34")));
}

// The engine refuses every write on a handle once one failed; only a new session can go on.
TEST_F(step_fixture, a_failing_disk_is_reported_once_and_recording_resumes_after_a_pause) {
    camera.next(1);
    step.handle_dpp(1, 7);
    disk.fill(200); // the frames, not the small metadata writes
    for (std::uint32_t count = 2; count <= 5; ++count) {
        camera.next(int(count));
        step.handle_dpp(count, 7);
    }
    EXPECT_EQ(owner.texts(EVT_THREAD_LOG_ERROR).size(), 1u);
    EXPECT_FALSE(session.is_open()) << "no count within the pause opens a session";
    EXPECT_EQ(owner.texts(EVT_THREAD_RECORD_STATUS).back(), L"ДПП[7]: 5 Записано кадров: 0");
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    camera.next(6);
    step.handle_dpp(6, 7);
    EXPECT_EQ(owner.texts(EVT_THREAD_LOG_ERROR).size(), 1u) << "the same failure a second later";
    EXPECT_EQ(folder_count(), 1u) << "a session that failed before its first frame is removed";
    disk.free_space();
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    camera.next(7);
    step.handle_dpp(7, 7);
    EXPECT_EQ(session.frames_written(), 1u);
    EXPECT_EQ(owner.texts(EVT_THREAD_LOG_INFO).back(),
              L"Запись возобновлена: " + folder("2021.03.04 12.05.33 (2)"));
    session.close();
    EXPECT_EQ(stored(folder("2021.03.04 12.05.33"), "dpp_end"), "0000000001");
    EXPECT_EQ(stored(folder("2021.03.04 12.05.33 (2)"), "dpp_start"), "0000000007");
}
