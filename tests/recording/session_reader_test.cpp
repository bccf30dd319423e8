#include "recording/session_db.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "tests/recording/raw_session.h"
#include "tests/support/temp_home.h"

namespace {
class session_reader_test : public testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void TearDown() override {
        unsetenv("TZ");
        tzset();
    }

    temp_dir root;
    std::string path = root.path() + "/2021.03.04 12.05.33";
};

raw_entries full_session() {
    return {{"0000000100", jpeg_of(test_frame(1))},
            {"0000000200", jpeg_of(test_frame(2))},
            {"0000000300", jpeg_of(test_frame(3))},
            {"dpp_end", "0000000300"},
            {"dpp_start", "0000000100"},
            {"orientation", "-90"},
            {"session", "A7 : 12"},
            {"side", "левый"},
            {"time_end", "1614859600"},
            {"time_start", "1614859533"},
            {"version", "1"}};
}

std::string cursor_key(const leveldb::Iterator& cursor) {
    return cursor.key().ToString();
}
} // namespace

TEST_F(session_reader_test, info_summarises_a_recorded_session) {
    write_raw_session(path, full_session());
    const session_info info = session_reader(path).info();
    EXPECT_EQ(info.session_code, L"A7 : 12");
    EXPECT_EQ(info.orientation, L"-90");
    EXPECT_EQ(info.side, L"левый");
    EXPECT_EQ(info.start_time, L"2021-03-04 12:05:33");
    EXPECT_EQ(info.end_time, L"2021-03-04 12:06:40");
    EXPECT_EQ(info.dpp_start, 100u);
    EXPECT_EQ(info.dpp_end, 300u);
    EXPECT_EQ(info.version, L"1");
    EXPECT_GT(info.size, 0u);
    EXPECT_TRUE(info.has_frames);
}

// Each missing key reads as missing, never as the value of the key that follows it.
TEST_F(session_reader_test, missing_keys_read_as_missing_not_as_the_next_key) {
    write_raw_session(path, {{"orientation", "90"}, {"zz-foreign", "1614859533"}});
    const session_reader reader(path);
    const session_info info = reader.info();
    EXPECT_EQ(info.dpp_start, missing_dpp);
    EXPECT_EQ(info.dpp_end, missing_dpp);
    EXPECT_EQ(info.session_code, no_data_text);
    EXPECT_EQ(reader.side(), L"нет данных");
    EXPECT_EQ(info.start_time, L"");
    EXPECT_EQ(info.end_time, L"");
    EXPECT_EQ(info.version, L"");
    EXPECT_EQ(info.size, 0u);
    EXPECT_FALSE(info.has_frames);
}

TEST_F(session_reader_test, a_range_value_that_is_no_number_names_folder_and_key) {
    write_raw_session(path, {{"dpp_start", "левый"}, {"version", "1"}});
    try {
        session_reader reader(path);
        FAIL() << "a bad range value was accepted";
    } catch (const std::runtime_error& e) {
        const std::string message = e.what();
        EXPECT_NE(message.find(path), std::string::npos) << message;
        EXPECT_NE(message.find("dpp_start"), std::string::npos) << message;
    }
}

TEST_F(session_reader_test, frames_are_read_at_or_after_the_dpp_from_cursors_at_the_range_ends) {
    raw_entries session = full_session();
    session["0000000250"] = "\xff\xd8\xff truncated";
    write_raw_session(path, session);
    session_reader reader(path);
    EXPECT_EQ(cursor_key(reader.start_cursor()), "0000000100");
    EXPECT_EQ(cursor_key(reader.end_cursor()), "0000000300");
    EXPECT_EQ(cursor_key(reader.current_cursor()), "0000000100");
    const std::pair<std::uint32_t, cv::Mat> cases[] = {{0, decoded(jpeg_of(test_frame(1)))},
                                                       {101, decoded(jpeg_of(test_frame(2)))},
                                                       {201, cv::Mat()}, // no JPEG: empty
                                                       {300, decoded(jpeg_of(test_frame(3)))},
                                                       {301, cv::Mat()}};
    for (const auto& [dpp, expected] : cases) {
        cv::Mat image = test_frame(9), at_cursor = test_frame(9);
        reader.read_frame(dpp, image);
        EXPECT_TRUE(same_image(image, expected)) << dpp;
        reader.seek_frame(dpp);
        reader.read_frame_at_cursor(at_cursor);
        EXPECT_TRUE(same_image(at_cursor, expected)) << dpp;
    }
}

// The default database root is the home folder: its ordinary folders must come out untouched, and
// a folder being recorded is refused with the engine's lock status.
TEST_F(session_reader_test, only_a_session_database_free_of_its_lock_opens) {
    EXPECT_THROW(session_reader reader(path), std::runtime_error);
    EXPECT_FALSE(std::filesystem::exists(path)) << "a missing folder is not created";
    std::filesystem::create_directory(path);
    std::ofstream(path + "/LOG") << "the operator's own notes";
    EXPECT_THROW(session_reader reader(path), std::runtime_error);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(path), {}), 1);
    EXPECT_EQ(read_file(path + "/LOG"), "the operator's own notes");
    const std::string held = root.path() + "/held";
    session_writer recorder;
    recorder.open(held);
    try {
        session_reader reader(held);
        FAIL() << "a reader opened a folder being recorded";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("LOCK"), std::string::npos) << e.what();
    }
}
