#include "recording/recording_step.h"

#include <filesystem>
#include <thread>

#include <gmock/gmock.h>

#include "tests/recording/raw_session.h"
#include "tests/recording/test_disk.h"
#include "tests/support/event_recorder.h"
#include "tests/support/temp_home.h"

namespace {
struct step_fixture : testing::Test {
    temp_dir root;
    event_recorder owner;
    test_disk disk;
    session_writer session{system_unix_seconds, &disk};
    // The camera's newest frame, set by the test; each new frame gets the next timestamp.
    // Snapshots copy as the frame buffer does: only a frame the recorder does not know yet.
    cv::Mat image;
    std::uint64_t timestamp = 0;
    int copies = 0;
    recording_step step{&owner, session, root.path(),
                        [this](cv::Mat& copy, std::uint64_t known) {
                            copies += timestamp != known;
                            if (timestamp != known)
                                image.copyTo(copy);
                            return timestamp;
                        },
                        [] { return std::tm{33, 5, 12, 4, 2, 121}; }}; // 2021.03.04 12.05.33

    void next_frame(int grey) {
        image = cv::Mat(8, 8, CV_8UC1, cv::Scalar(grey));
        ++timestamp;
    }
    // The stored "dpp_start" and "dpp_end" of the session folder with this suffix.
    std::pair<std::string, std::string> range(const std::string& suffix) const {
        raw_entries stored = read_raw_session(root.path() + "/2021.03.04 12.05.33" + suffix);
        return {stored["dpp_start"], stored["dpp_end"]};
    }
    std::wstring status() { return owner.texts(EVT_THREAD_RECORD_STATUS).back().ToStdWstring(); }
};
} // namespace

// Counts come far more often than frames: each frame is copied out of the camera's buffer and
// stored once, however many counts find it. A session opens with the first count even before a
// frame, in a folder named after the local time and never one that exists; a lower count, the
// counter's wrap too, starts the next one.
TEST_F(step_fixture, counts_store_each_new_frame_once_and_a_lower_count_starts_a_session) {
    step.handle_dpp(100, 4);
    EXPECT_TRUE(session.is_open());
    EXPECT_EQ(status(), L"ДПП[4]: 100 Записано кадров: 0");
    next_frame(10);
    for (std::uint32_t count = 101; count <= 130; ++count)
        step.handle_dpp(count, 4);
    next_frame(20);
    step.handle_dpp(130, 7);
    EXPECT_EQ(copies, 2);
    EXPECT_EQ(status(), L"ДПП[7]: 130 Записано кадров: 2");
    EXPECT_TRUE(owner.texts(EVT_THREAD_LOG_INFO).empty()) << "neither the first nor an equal count";
    next_frame(30);
    step.handle_dpp(129, 7);
    next_frame(40);
    step.handle_dpp(4294967295u, 7);
    EXPECT_EQ(status(), L"ДПП[7]: 4294967295 Записано кадров: 2");
    next_frame(50);
    step.handle_dpp(0, 7);
    EXPECT_EQ(owner.texts(EVT_THREAD_LOG_INFO),
              (std::vector<wxString>{"dpp reset: 130 to 129", "dpp reset: 4294967295 to 0"}));
    session.close();
    EXPECT_THAT(range(""), testing::Pair("0000000101", "0000000130"));
    EXPECT_THAT(range(" (2)"), testing::Pair("0000000129", "4294967295"));
    EXPECT_EQ(range(" (3)").first, "0000000000");
}

// The engine refuses every write on a handle once one failed; only a new session can go on.
TEST_F(step_fixture, a_failing_disk_is_reported_once_and_recording_resumes_after_a_pause) {
    next_frame(1);
    step.handle_dpp(1, 7);
    disk.fill(200); // the frames, not the small metadata writes
    for (std::uint32_t count = 2; count <= 5; ++count) {
        next_frame(int(count));
        step.handle_dpp(count, 7);
    }
    EXPECT_EQ(owner.texts(EVT_THREAD_LOG_ERROR).size(), 1u);
    EXPECT_FALSE(session.is_open()) << "no count within the pause opens a session";
    EXPECT_EQ(status(), L"ДПП[7]: 5 Записано кадров: 0");
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    next_frame(6);
    step.handle_dpp(6, 7);
    EXPECT_EQ(owner.texts(EVT_THREAD_LOG_ERROR).size(), 1u) << "the same failure a second later";
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(root.path()), {}), 1)
        << "a session that failed before its first frame is removed";
    disk.free_space();
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    next_frame(7);
    step.handle_dpp(7, 7);
    EXPECT_EQ(session.frames_written(), 1u);
    EXPECT_EQ(owner.texts(EVT_THREAD_LOG_INFO).back(),
              L"Запись возобновлена: " + root.path() + "/2021.03.04 12.05.33 (2)");
    session.close();
    EXPECT_EQ(range("").second, "0000000001");
    EXPECT_EQ(range(" (2)").first, "0000000007");
}
