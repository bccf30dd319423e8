#include "recording/session_db.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "recording/session_format.h"
#include "tests/recording/raw_session.h"
#include "tests/recording/test_disk.h"
#include "tests/support/temp_home.h"

namespace {
class session_writer_test : public testing::Test {
protected:
    // Each reading of the clock gives the next second, so that tests see which reading was stored.
    std::int64_t next_second = 1614859533;
    session_clock clock = [this] { return next_second++; };
    temp_dir root;
    std::string path = root.path() + "/2021.03.04 12.05.33";
};

std::string helper_program(const char* name) {
    const char* bin = std::getenv("TRESVIK_BIN");
    const std::filesystem::path folder =
        bin ? std::filesystem::path(bin)
            : std::filesystem::read_symlink("/proc/self/exe").parent_path();
    return (folder / name).string();
}
} // namespace

TEST_F(session_writer_test, record_frame_stores_range_times_jpeg_frames_and_metadata_text) {
    session_writer writer(clock);
    writer.open(path);
    writer.record_frame(test_frame(1), 100);
    writer.record_frame(test_frame(2), 100);
    writer.record_frame(test_frame(3), 250);
    writer.set_side(L"левый");
    EXPECT_EQ(writer.frames_written(), 3u);
    writer.close();
    EXPECT_EQ(writer.frames_written(), 0u);
    EXPECT_THROW(writer.record_frame(test_frame(1), 1), std::runtime_error) << "not open";
    EXPECT_THROW(writer.set_side(L"левый"), std::runtime_error);
    const raw_entries expected = {{"0000000100", jpeg_of(test_frame(2))},
                                  {"0000000250", jpeg_of(test_frame(3))},
                                  {"dpp_end", "0000000250"},
                                  {"dpp_start", "0000000100"},
                                  {"side", "\xd0\xbb\xd0\xb5\xd0\xb2\xd1\x8b\xd0\xb9"},
                                  {"time_end", "1614859536"},
                                  {"time_start", "1614859533"},
                                  {"version", "1"}};
    const raw_entries stored = read_raw_session(path);
    EXPECT_EQ(stored.size(), expected.size());
    for (const auto& [key, value] : expected)
        EXPECT_TRUE(stored.count(key) && stored.at(key) == value) << key;
    writer.open(path);
    writer.record_frame(test_frame(4), 40);
    writer.close();
    EXPECT_EQ(read_raw_session(path).at("dpp_start"), "0000000040") << "restarted by the reopen";
}

TEST_F(session_writer_test, reopening_for_an_edit_rewrites_only_the_version) {
    const raw_entries original = {{"0000000007", jpeg_of(test_frame(7))},
                                  {"dpp_end", "0000000007"},
                                  {"dpp_start", "0000000007"},
                                  {"side", "правый"},
                                  {"version", "0"}};
    write_raw_session(path, original);
    session_writer writer(clock);
    writer.open(path);
    EXPECT_EQ(writer.session_code(), L"") << "a missing code, not the next key's value";
    writer.close();
    raw_entries expected = original;
    expected["version"] = "1";
    EXPECT_EQ(read_raw_session(path), expected);
}

TEST_F(session_writer_test, read_current_frame_gives_the_frame_at_or_after_the_dpp) {
    session_writer writer(clock);
    writer.open(path);
    writer.record_frame(test_frame(1), 100);
    writer.record_frame(test_frame(2), 200);
    writer.put_frame(test_frame(3), 150);
    const std::pair<std::uint32_t, cv::Mat> cases[] = {{0, decoded(jpeg_of(test_frame(1)))},
                                                       {101, decoded(jpeg_of(test_frame(3)))},
                                                       {200, decoded(jpeg_of(test_frame(2)))},
                                                       {201, not_found_image(201)},
                                                       {4294967295u, not_found_image(4294967295u)}};
    for (const auto& [dpp, expected] : cases) {
        cv::Mat image;
        writer.read_current_frame(dpp, image);
        EXPECT_TRUE(same_image(image, expected)) << dpp;
    }
    writer.close();
    cv::Mat image;
    writer.read_current_frame(100, image);
    EXPECT_TRUE(same_image(image, not_found_image(100))) << "closed";
}

// The frame fails to fit; with separate puts the range and time keys before it would have gone in.
TEST_F(session_writer_test, full_disk_raises_the_engine_status_and_stores_none_of_the_frame) {
    test_disk disk;
    session_writer writer(clock, &disk);
    writer.open(path);
    for (std::uint32_t dpp = 1; dpp <= 5; ++dpp)
        writer.record_frame(test_frame(dpp), dpp);
    disk.fill(jpeg_of(test_frame(6)).size());
    try {
        writer.record_frame(test_frame(6), 6);
        FAIL() << "record_frame succeeded on a full disk";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(e.what(), disk.last_error());
        EXPECT_NE(disk.last_error().find("No space left on device"), std::string::npos);
    }
    EXPECT_EQ(writer.frames_written(), 5u);
    writer.close();
    const raw_entries stored = read_raw_session(path);
    for (std::uint32_t dpp = 1; dpp <= 5; ++dpp)
        EXPECT_EQ(stored.at(frame_key(dpp)), jpeg_of(test_frame(dpp))) << dpp;
    EXPECT_EQ(stored.count(frame_key(6)), 0u);
    EXPECT_EQ(stored.at("dpp_end"), frame_key(5));
    EXPECT_EQ(stored.at("time_end"), "1614859538") << "the time of frame 5";
}

TEST_F(session_writer_test, disk_is_synchronised_once_a_second_and_at_close) {
    test_disk disk;
    session_writer writer(clock, &disk);
    writer.open(path);
    for (std::uint32_t dpp = 1; dpp <= 20; ++dpp)
        writer.record_frame(test_frame(dpp), dpp);
    EXPECT_EQ(disk.log_syncs(), 0) << "all within the first second";
    disk.advance(999999);
    writer.record_frame(test_frame(21), 21);
    EXPECT_EQ(disk.log_syncs(), 0);
    disk.advance(1);
    writer.record_frame(test_frame(22), 22);
    EXPECT_EQ(disk.log_syncs(), 1) << "a second after the open";
    writer.record_frame(test_frame(23), 23);
    EXPECT_EQ(disk.log_syncs(), 1);
    writer.close();
    EXPECT_EQ(disk.log_syncs(), 2) << "what came after the last sync";
}

TEST_F(session_writer_test, metadata_equal_to_what_was_stored_since_the_open_is_not_written_again) {
    test_disk disk;
    session_writer writer(clock, &disk);
    writer.open(path);
    const int after_open = disk.log_writes();
    for (int reply = 0; reply < 10; ++reply) {
        writer.set_session_code(L"A7 : 5");
        writer.set_orientation(L"-1");
        writer.set_side(L"левый");
    }
    EXPECT_EQ(disk.log_writes() - after_open, 3);
    writer.set_orientation(L"1");
    EXPECT_EQ(disk.log_writes() - after_open, 4);
    writer.close();
    writer.open(path);
    const int after_reopen = disk.log_writes();
    writer.set_side(L"левый");
    EXPECT_EQ(disk.log_writes() - after_reopen, 1) << "a new open forgets what was stored";
    writer.close();
    EXPECT_EQ(read_raw_session(path).at("orientation"), "1");
}

namespace {
// The recorder child with its standard output on a pipe: it prints each DPP it has recorded.
struct recorder_child {
    pid_t pid = 0;
    int reports = -1;
};

recorder_child spawn_recorder(const std::string& path) {
    int report[2];
    if (pipe(report) != 0)
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, report[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, report[0]);
    const std::string program = helper_program("session_record_child");
    char* const argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(path.c_str()),
                          nullptr};
    recorder_child child;
    const int failed = posix_spawn(&child.pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(report[1]);
    if (failed)
        throw std::runtime_error("cannot start " + program);
    child.reports = report[0];
    return child;
}

// Reads reports until the count is reached, kills the child, then takes what it had still sent.
std::string kill_after_reports(const recorder_child& child, long count, int& status) {
    std::string reports;
    char buffer[256];
    ssize_t got = 0;
    while (std::count(reports.begin(), reports.end(), '\n') < count &&
           (got = read(child.reports, buffer, sizeof buffer)) > 0)
        reports.append(buffer, static_cast<std::size_t>(got));
    kill(child.pid, SIGKILL);
    waitpid(child.pid, &status, 0);
    while ((got = read(child.reports, buffer, sizeof buffer)) > 0)
        reports.append(buffer, static_cast<std::size_t>(got));
    close(child.reports);
    return reports;
}
} // namespace

// A recorder killed with SIGKILL keeps every frame whose record_frame had returned: the engine
// has handed the log record to the kernel by then.
TEST_F(session_writer_test, sigkill_while_recording_loses_no_returned_frame) {
    int status = 0;
    const std::string reports = kill_after_reports(spawn_recorder(path), 40, status);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the recorder ended by itself: " << reports;

    const raw_entries stored = read_raw_session(path);
    std::istringstream lines(reports);
    std::uint32_t dpp = 0;
    std::size_t checked = 0;
    while (lines >> dpp) {
        const auto frame = stored.find(frame_key(dpp));
        ASSERT_NE(frame, stored.end()) << "lost frame " << dpp;
        EXPECT_EQ(frame->second, jpeg_of(test_frame(dpp, 480, 640))) << dpp;
        ++checked;
    }
    EXPECT_GE(checked, 40u);
    EXPECT_EQ(stored.at("dpp_start"), frame_key(1));
}
