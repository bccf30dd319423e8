#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/wait.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>

#include "recording/session_db.h"
#include "recording/session_format.h"
#include "tests/recording/raw_session.h"
#include "tests/support/temp_home.h"
#include "tools/db/session_rows.h"

namespace {
struct tool_result {
    int status = -1;
    std::string out;
    std::string err;
};

std::string shell_quoted(const std::string& text) {
    std::string result = "'";
    for (char c : text)
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

std::string file_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Sessions as another program would leave them: one recorded, one without frames, and a folder
// that is no database.
class db_tool_test : public testing::Test {
protected:
    void SetUp() override {
        write_raw_session(recorded, {{"0000000100", jpeg_of(test_frame(100))},
                                     {"0000000200", jpeg_of(test_frame(200))},
                                     {"0000000300", "not a jpeg"},
                                     {"0000000400", jpeg_of(test_frame(400))},
                                     {"dpp_end", "0000000400"},
                                     {"dpp_start", "0000000100"},
                                     {"orientation", "-90"},
                                     {"session", "A7 : 12"},
                                     {"side", "левый"},
                                     {"time_end", "1614859600"},
                                     {"time_start", "1614859533"},
                                     {"version", "1"}});
        write_raw_session(empty, {{"side", "правый"}, {"version", "1"}});
        std::filesystem::create_directory(root.path() + "/photos");
    }

    tool_result run(const std::string& arguments, const std::string& program = "tresvik-db") {
        const char* bin = std::getenv("TRESVIK_BIN");
        const std::filesystem::path folder =
            bin ? std::filesystem::path(bin)
                : std::filesystem::read_symlink("/proc/self/exe").parent_path();
        const std::string err_file = root.path() + "/stderr.txt";
        // A simulator that took a bad option would run until stopped.
        const std::string command = "TZ=UTC LC_ALL=C.UTF-8 timeout 20 " +
                                    shell_quoted((folder / program).string()) + " " + arguments +
                                    " 2>" + shell_quoted(err_file);
        tool_result result;
        FILE* out = popen(command.c_str(), "r");
        char buffer[4096];
        for (std::size_t got; (got = fread(buffer, 1, sizeof buffer, out)) > 0;)
            result.out.append(buffer, got);
        const int status = pclose(out);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.err = file_text(err_file);
        std::filesystem::remove(err_file);
        return result;
    }

    temp_dir root;
    temp_dir output{"tresvik-export"};
    std::string recorded = root.path() + "/2021.03.04 12.05.33";
    std::string empty = root.path() + "/2021.03.04 12.10.00";
};
} // namespace

TEST_F(db_tool_test, list_prints_every_session_and_reports_folders_that_are_no_session) {
    const tool_result result = run("list " + shell_quoted(root.path()));
    EXPECT_EQ(result.status, 0) << result.err;
    const std::string recorded_row = recorded +
                                     "\tA7 : 12\t-90\tлевый\t2021-03-04 12:05:33\t2021-03-04 "
                                     "12:06:40\t100\t400\t";
    const std::string empty_row = empty + "\tнет данных\tнет данных\tправый\t\t\t-\t-\t0\n";
    EXPECT_NE(result.out.find(recorded_row), std::string::npos) << result.out;
    EXPECT_NE(result.out.find(empty_row), std::string::npos) << result.out;
    EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 2);
    EXPECT_NE(result.err.find("/photos/CURRENT"), std::string::npos) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
}

TEST_F(db_tool_test, list_json_gives_null_for_a_missing_dpp) {
    const tool_result result = run("list --json " + shell_quoted(root.path()));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("\"side\": \"правый\", \"time_start\": \"\", \"time_end\": \"\", "
                              "\"dpp_start\": null, \"dpp_end\": null"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("\"dpp_start\": 100, \"dpp_end\": 400"), std::string::npos);
}

TEST_F(db_tool_test, list_shows_dpps_of_two_to_the_31_and_above_unsigned) {
    temp_dir high_root;
    write_raw_session(high_root.path() + "/high", {{"2147483648", jpeg_of(test_frame(1))},
                                                   {"4294967294", jpeg_of(test_frame(2))},
                                                   {"dpp_end", "4294967294"},
                                                   {"dpp_start", "2147483648"},
                                                   {"version", "1"}});
    const tool_result result = run("list " + shell_quoted(high_root.path()));
    EXPECT_NE(result.out.find("\t2147483648\t4294967294\t"), std::string::npos) << result.out;
    const tool_result json = run("list --json " + shell_quoted(high_root.path()));
    EXPECT_NE(json.out.find("\"dpp_start\": 2147483648, \"dpp_end\": 4294967294"),
              std::string::npos)
        << json.out;
}

TEST_F(db_tool_test, every_tool_answers_help_with_its_usage_on_standard_output) {
    for (const char* program : {"tresvik-db", "tresvik-camsim", "tresvik-coord-sim",
                                "tresvik-odometer-sim", "tresvik-client"}) {
        const tool_result result = run("--help", program);
        std::string out = result.out;
        std::transform(out.begin(), out.end(), out.begin(), ::tolower);
        EXPECT_EQ(result.status, 0) << program;
        EXPECT_NE(out.find("usage: " + std::string(program)), std::string::npos) << out;
        EXPECT_EQ(result.err, "") << program;
    }
}

TEST_F(db_tool_test, every_tool_refuses_a_bad_command_line_in_one_line_with_status_2) {
    const std::string cases[][3] = {
        {"tresvik-db", "export " + shell_quoted(recorded) + " out --from -1", "--from"},
        {"tresvik-db", "frame " + shell_quoted(recorded) + " 4294967296 out.png", "DPP"},
        {"tresvik-camsim", "--fps 0", "--fps"},
        {"tresvik-camsim", "--colour red", "--colour"},
        {"tresvik-coord-sim", "--port 65536", "--port"},
        {"tresvik-odometer-sim", "--pty --noise-rate 2", "--noise-rate"},
        {"tresvik-odometer-sim", "--link x", "--link"},
        {"tresvik-client", "status --timeout nan", "--timeout"},
    };
    for (const auto& [program, arguments, option] : cases) {
        const tool_result result = run(arguments, program);
        EXPECT_EQ(result.status, 2) << program << " " << arguments;
        EXPECT_EQ(result.out, "") << program;
        EXPECT_EQ(result.err.rfind(program + ": ", 0), 0u) << result.err;
        EXPECT_NE(result.err.find(option), std::string::npos) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    }
}

// Every text, undecodable bytes too, gives a document that parses, each object with the fields
// in their order.
TEST_F(db_tool_test, list_and_info_json_parse) {
    write_raw_session(root.path() + "/bytes", {{"side", "\xff"}, {"version", "1"}});
    const auto list =
        nlohmann::ordered_json::parse(run("list --json " + shell_quoted(root.path())).out);
    ASSERT_EQ(list.size(), 3u);
    const std::vector<std::string> fields = {"path",      "session",    "orientation",
                                             "side",      "time_start", "time_end",
                                             "dpp_start", "dpp_end",    "size"};
    std::vector<std::string> sides;
    for (const auto& session : list) {
        std::vector<std::string> keys;
        for (const auto& item : session.items())
            keys.push_back(item.key());
        EXPECT_EQ(keys, fields);
        sides.push_back(session["side"]);
    }
    std::sort(sides.begin(), sides.end());
    EXPECT_EQ(sides, (std::vector<std::string>{"левый", "правый", "\uFFFD"}));
    const auto info = nlohmann::json::parse(run("info --json " + shell_quoted(recorded)).out);
    EXPECT_EQ(info["session"], "A7 : 12");
    EXPECT_EQ(info["dpp_start"], 100);
    EXPECT_EQ(info["frames"], 4);
}

TEST_F(db_tool_test, info_adds_the_frame_count) {
    const tool_result result = run("info " + shell_quoted(recorded));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("session\tA7 : 12\n"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("dpp_end\t400\n"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("frames\t4\n"), std::string::npos) << result.out;
}

TEST_F(db_tool_test, frame_saves_the_frame_at_or_after_the_dpp) {
    const std::string file = output.path() + "/frame.png";
    const tool_result result =
        run("frame " + shell_quoted(recorded) + " 150 " + shell_quoted(file));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "0000000200\n");
    EXPECT_TRUE(
        same_image(cv::imread(file, cv::IMREAD_UNCHANGED), decoded(jpeg_of(test_frame(200)))));
}

TEST_F(db_tool_test, export_writes_one_file_per_frame_of_the_range) {
    const tool_result result = run("export " + shell_quoted(recorded) + " " +
                                   shell_quoted(output.path()) + " --from 150 --format jpg");
    EXPECT_EQ(result.status, 1) << "a frame that is no image must not pass unnoticed";
    EXPECT_NE(result.err.find("0000000300"), std::string::npos) << result.err;
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(output.path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"0000000200.jpg", "0000000400.jpg"}));
    EXPECT_EQ(file_text(output.path() + "/0000000400.jpg"), jpeg_of(test_frame(400)));
}

TEST_F(db_tool_test, export_png_stops_at_the_end_of_the_range) {
    const tool_result result =
        run("export " + shell_quoted(recorded) + " " + shell_quoted(output.path()) + " --to 200");
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(same_image(cv::imread(output.path() + "/0000000100.png", cv::IMREAD_UNCHANGED),
                           decoded(jpeg_of(test_frame(100)))));
    EXPECT_TRUE(std::filesystem::exists(output.path() + "/0000000200.png"));
    EXPECT_FALSE(std::filesystem::exists(output.path() + "/0000000400.png"));
}

TEST_F(db_tool_test, failures_give_a_message_and_a_non_zero_exit) {
    session_writer recording;
    recording.open(root.path() + "/held");
    const std::pair<std::string, std::string> cases[] = {
        {"info " + shell_quoted(root.path() + "/missing"), "no such folder"},
        {"info " + shell_quoted(root.path() + "/held"), "LOCK"},
        {"frame " + shell_quoted(recorded) + " 12x out.png", "DPP: not a whole number"},
        {"frame " + shell_quoted(recorded) + " 401 " + shell_quoted(output.path() + "/x.png"),
         "no frame"},
        {"list " + shell_quoted(root.path() + "/missing"), "no such folder"},
        {"export " + shell_quoted(recorded) + " out --format gif", "--format: gif not in"},
        {"copy " + shell_quoted(recorded), "unknown command"}};
    for (const auto& [arguments, message] : cases) {
        const tool_result result = run(arguments);
        EXPECT_NE(result.status, 0) << arguments;
        EXPECT_NE(result.err.find(message), std::string::npos) << arguments << ": " << result.err;
    }
}

// Whatever a stored text holds, the JSON parses and gives the text back, undecodable bytes as
// U+FFFD.
TEST(session_rows, json_holds_any_text) {
    const std::pair<std::wstring, std::string> cases[] = {
        {L"A \"7\" \\ 12", "A \"7\" \\ 12"},
        {L"левый\t\n\x01", "левый\t\n\x01"},
        {wide_text("A7 \xff\xfe"), "A7 \uFFFD\uFFFD"},
        {std::wstring{0xD83D, 0xDE00, 0xD83D}, "\U0001F600\uFFFD"}, // halves of 16-bit wchar_t
    };
    for (const auto& [text, utf8] : cases) {
        session_index_entry entry;
        entry.info.session_code = text;
        const nlohmann::json object = nlohmann::json::parse(session_json(entry, 3));
        EXPECT_EQ(object["session"], utf8);
        EXPECT_EQ(object["frames"], 3);
    }
}
