#include "recording/session_db.h"

#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>
#include <tuple>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "recording/session_format.h"
#include "tests/recording/raw_session.h"
#include "tests/support/temp_home.h"

namespace {
class session_index_test : public testing::Test {
protected:
    ~session_index_test() override {
        session_index.clear();
        database_root.clear();
    }

    // A session with one frame per DPP, each frame seeded by its DPP.
    std::string add_session(const std::string& name, const std::string& code,
                            std::initializer_list<std::uint32_t> dpps) {
        raw_entries entries = {{"session", code}, {"version", "1"}};
        for (std::uint32_t dpp : dpps)
            entries[frame_key(dpp)] = jpeg_of(test_frame(dpp));
        entries["dpp_start"] = frame_key(*dpps.begin());
        entries["dpp_end"] = frame_key(*(dpps.end() - 1));
        const std::string path = root.path() + "/" + name;
        write_raw_session(path, entries);
        return path;
    }

    session_index_entry indexed(const std::string& path) {
        return {session_reader(path).info(), path};
    }

    std::vector<std::string> errors;
    session_error_sink sink = [this](const std::string& message) { errors.push_back(message); };
    temp_dir root;
};

std::set<std::string> paths_of(const session_index_entries& entries) {
    std::set<std::string> paths;
    for (const auto& entry : entries)
        paths.insert(entry.path);
    return paths;
}

cv::Mat frame_read_back(std::uint32_t seed) {
    return decoded(jpeg_of(test_frame(seed)));
}
} // namespace

TEST_F(session_index_test, refresh_lists_sessions_and_reports_each_bad_folder) {
    const std::string recorded = add_session("2021.03.04 12.05.33", "A7 : 12", {100, 200});
    const std::string empty = root.path() + "/2021.03.04 12.06.00";
    write_raw_session(empty, {{"side", "левый"}, {"version", "1"}});
    std::filesystem::create_directory(root.path() + "/notes");
    const std::string held = add_session("2021.03.04 12.07.00", "B : 1", {5});
    add_session(".hidden", "C : 1", {1});
    std::ofstream(root.path() + "/readme.txt") << "not a folder";
    session_writer recorder;
    recorder.open(held);

    database_root = root.path();
    refresh_session_index(sink);
    EXPECT_EQ(paths_of(session_index), (std::set<std::string>{recorded, empty}));
    ASSERT_EQ(errors.size(), 2u);
    for (const std::string& message : errors)
        EXPECT_TRUE(message.find("/notes") != std::string::npos ||
                    message.find("12.07.00/LOCK") != std::string::npos)
            << message;
}

TEST_F(session_index_test, a_root_without_sessions_gives_an_empty_index) {
    std::filesystem::create_directory(root.path() + "/empty");
    for (const std::string& folder :
         {std::string(), root.path() + "/missing", root.path() + "/empty"}) {
        session_index = {indexed(add_session("stale", "A : 1", {1}))};
        database_root = folder;
        refresh_session_index(sink);
        EXPECT_TRUE(session_index.empty()) << folder;
        std::filesystem::remove_all(root.path() + "/stale");
    }
    EXPECT_TRUE(errors.empty());
}

// The first session with exactly the code whose range holds the DPP gives its frame at or after
// the DPP; anything else (unknown code, outside every range, a session without frames, a value
// that is no JPEG) gives the not-found picture with code and DPP.
TEST_F(session_index_test, indexed_frames_come_from_the_first_matching_session) {
    const std::string empty = root.path() + "/empty";
    write_raw_session(empty, {{"session", "A : 1"}, {"version", "1"}});
    const std::string broken = root.path() + "/broken";
    write_raw_session(broken, {{"0000000010", "GIF89a"},
                               {"dpp_end", "0000000010"},
                               {"dpp_start", "0000000010"},
                               {"session", "B : 1"}});
    session_index = {indexed(empty), indexed(add_session("first", "A : 1", {100, 200})),
                     indexed(add_session("second", "A : 1", {150, 300})),
                     indexed(add_session("last", "A : 1", {4294967295u})), indexed(broken)};
    const std::tuple<std::wstring, std::uint32_t, cv::Mat> cases[] = {
        {L"A : 1", 100, frame_read_back(100)},
        {L"A : 1", 150, frame_read_back(200)},
        {L"A : 1", 250, frame_read_back(300)},
        {L"A : 1", 4294967295u, frame_read_back(4294967295u)},
        {L"A : 1", 99, not_found_image(L"A : 1", 99)},
        {L"a : 1", 150, not_found_image(L"a : 1", 150)},
        {L"A : 1 ", 150, not_found_image(L"A : 1 ", 150)},
        {L"B : 1", 10, not_found_image(L"B : 1", 10)},
    };
    for (const auto& [code, dpp, expected] : cases) {
        cv::Mat image;
        read_indexed_frame(code, dpp, image);
        EXPECT_TRUE(same_image(image, expected)) << dpp;
    }
}

TEST_F(session_index_test, a_matching_session_held_by_the_recorder_throws) {
    const std::string path = add_session("held", "A : 1", {1});
    session_index = {indexed(path)};
    session_writer recorder;
    recorder.open(path);
    cv::Mat image;
    EXPECT_THROW(read_indexed_frame(L"A : 1", 1, image), std::runtime_error);
}

TEST(not_found_image, is_black_640_by_480_grey_with_the_request_at_the_top_left) {
    const cv::Mat image = not_found_image(1500);
    ASSERT_EQ(image.type(), CV_8UC1);
    ASSERT_EQ(image.size(), cv::Size(640, 480));
    const cv::Rect text_band(10, 0, 400, 25);
    EXPECT_GT(cv::countNonZero(image(text_band)), 100);
    EXPECT_EQ(cv::countNonZero(image), cv::countNonZero(image(text_band)));
    EXPECT_FALSE(same_image(image, not_found_image(1501)));
    EXPECT_FALSE(same_image(image, not_found_image(L"A : 1", 1500)));
}
