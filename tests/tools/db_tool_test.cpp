#include <algorithm>
#include <filesystem>

#include <gmock/gmock.h>
#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>

#include "base/encoding.h"
#include "harness/child_process.h"
#include "recording/session_format.h"
#include "recording/session_store.h"
#include "tests/recording/raw_session.h"
#include "tests/support/temp_home.h"
#include "tools/common/command_line.h"
#include "tools/db/session_rows.h"

namespace {
using testing::AllOf;
using testing::HasSubstr;

// A small tool: a whole number, a real one and a choice.
struct sample_tool : tool_app {
    std::uint32_t width = 1024;
    double rate = 50;
    char format = 'a';
    sample_tool() : tool_app("sample", "") {
        add_number(*this, "--width", width, 8, 8192, "frame width");
        add_number(*this, "--rate", rate, 0.01, 1e6, "packets per second");
        add_choice(*this, "--format", format, {{"a", 'a'}, {"b", 'b'}}, "format");
    }
};

program_run tool(const std::string& program, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), built_program(program));
    return run_program(arguments);
}

// Sessions as another program would leave them: one recorded, one without frames, one with DPPs
// of 2^31 and above and a side that is no UTF-8, and a folder that is no database.
struct db_tool_test : testing::Test {
    db_tool_test() {
        setenv("TZ", "UTC", 1);
        setenv("LC_ALL", "C.UTF-8", 1);
        raw_entries session = recorded_session();
        session["0000000300"] = "not a jpeg";
        session["0000000350"] = jpeg_declaring(32000, 32000);
        session["0000000400"] = jpeg_of(test_frame(400));
        session[""] = session["00000002000"] = session["zz"] = "no frame keys";
        session["dpp_end"] = "0000000400";
        write_raw_session(recorded, session);
        write_raw_session(empty, {{"side", "правый"}, {"version", "1"}});
        write_raw_session(root.path() + "/high", {{"2147483648", jpeg_of(test_frame(1))},
                                                  {"4294967294", jpeg_of(test_frame(2))},
                                                  {"dpp_end", "4294967294"},
                                                  {"dpp_start", "2147483648"},
                                                  {"side", "\xff"},
                                                  {"time_start", "9223372036854775807"}});
        std::filesystem::create_directory(root.path() + "/photos");
    }
    // The standard output of a run of tresvik-db that must succeed.
    std::string db(const std::vector<std::string>& arguments) {
        const program_run run = tool("tresvik-db", arguments);
        EXPECT_EQ(run.exit_code, 0) << run.err;
        return run.out;
    }
    bool same_frame(const std::string& file, std::uint32_t seed) {
        return same_image(cv::imread(output.path() + "/" + file, cv::IMREAD_UNCHANGED),
                          decoded(jpeg_of(test_frame(seed))));
    }

    temp_dir root;
    temp_dir output{"tresvik-export"};
    std::string recorded = root.path() + "/2021.03.04 12.05.33";
    std::string empty = root.path() + "/2021.03.04 12.10.00";
};
} // namespace

// The JSON parses whatever a stored text holds, one object a line with the fields in their order;
// a time beyond the platform's dates shows as stored. Info adds the key counts. Keys that are no
// frame keys are passed over and counted; a frame whose value is no image, or declares more
// pixels than a camera gives, must not pass unnoticed.
TEST_F(db_tool_test, list_info_frame_and_export_read_the_sessions_and_their_frames) {
    const program_run rows = tool("tresvik-db", {"list", root.path()});
    EXPECT_EQ(rows.exit_code, 0);
    EXPECT_THAT(rows.out,
                AllOf(HasSubstr(recorded + "\tA7 : 12\t-90\tлевый\t2021-03-04 12:05:33\t"
                                           "2021-03-04 12:06:40\t100\t400\t"),
                      HasSubstr(empty + "\tнет данных\tнет данных\tправый\t\t\t-\t-\t0\n"),
                      HasSubstr("\t9223372036854775807\t\t2147483648\t4294967294\t")));
    EXPECT_EQ(std::count(rows.out.begin(), rows.out.end(), '\n'), 3);
    EXPECT_THAT(rows.err, testing::StartsWith("tresvik-db: skipped: Session folder " + root.path() +
                                              "/photos cannot be read: "));
    EXPECT_EQ(std::count(rows.err.begin(), rows.err.end(), '\n'), 1);
    const std::string json = db({"list", "--json", root.path()});
    EXPECT_EQ(nlohmann::json::parse(json).size(), 3u) << json;
    EXPECT_THAT(json, AllOf(HasSubstr("{\"path\": \"" + empty +
                                      "\", \"session\": \"нет данных\", \"orientation\": "
                                      "\"нет данных\", \"side\": \"правый\", \"time_start\": "
                                      "\"\", \"time_end\": \"\", \"dpp_start\": null, "
                                      "\"dpp_end\": null, \"size\": 0}"),
                            HasSubstr("\"side\": \"\uFFFD\", \"time_start\": "
                                      "\"9223372036854775807\", \"time_end\": "
                                      "\"\", \"dpp_start\": 2147483648, \"dpp_end\": 4294967294, "),
                            HasSubstr("\"dpp_start\": 100, \"dpp_end\": 400, ")));
    EXPECT_THAT(db({"info", recorded}),
                AllOf(HasSubstr("session\tA7 : 12\n"), HasSubstr("dpp_end\t400\n"),
                      HasSubstr("frames\t5\nother keys\t3\n")));
    const nlohmann::json info = nlohmann::json::parse(db({"info", "--json", recorded}));
    EXPECT_EQ(std::pair(info["frames"], info["other_keys"]), std::pair(5, 3));
    EXPECT_EQ(db({"frame", recorded, "150", output.path() + "/frame.png"}), "0000000200\n");
    EXPECT_TRUE(same_frame("frame.png", 200));
    const program_run jpg =
        tool("tresvik-db", {"export", recorded, output.path(), "--from", "150", "--format", "jpg"});
    EXPECT_EQ(jpg.exit_code, 1);
    EXPECT_THAT(jpg.err, AllOf(HasSubstr("skipped 0000000300: no readable JPEG header\n"),
                               HasSubstr("skipped 0000000350: it declares 32000 x 32000 pixels")));
    EXPECT_THAT(jpg.out, testing::EndsWith(" (other keys skipped: 1)\n"));
    EXPECT_EQ(read_file(output.path() + "/0000000400.jpg"), jpeg_of(test_frame(400)));
    db({"export", recorded, output.path(), "--to", "200"});
    EXPECT_TRUE(same_frame("0000000100.png", 100));
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(output.path()))
        names.push_back(entry.path().filename().string());
    EXPECT_THAT(names,
                testing::UnorderedElementsAre("0000000100.png", "0000000200.jpg", "0000000200.png",
                                              "0000000400.jpg", "frame.png"));
}

// --help prints the usage on standard output; a bad command line (status 2) or a failure
// (status 1) is one line on standard error naming the tool and what is wrong.
TEST_F(db_tool_test, every_tool_helps_and_refuses_in_one_line) {
    for (const char* program : {"tresvik-db", "tresvik-camsim", "tresvik-coord-sim",
                                "tresvik-odometer-sim", "tresvik-client"}) {
        const program_run help = tool(program, {"--help"});
        EXPECT_EQ(help.exit_code, 0) << program;
        EXPECT_THAT(help.out, testing::ContainsRegex(std::string("[Uu]sage: ") + program));
        EXPECT_EQ(help.err, "") << program;
    }
    session_writer recording;
    recording.open(root.path() + "/held");
    const struct {
        const char* program;
        std::vector<std::string> arguments;
        int exit_code;
        std::string message;
    } cases[] = {
        {"tresvik-db", {"export", recorded, "out", "--from", "-1"}, 2, "--from"},
        {"tresvik-db", {"frame", recorded, "4294967296", "x.png"}, 2, "DPP: not a whole number"},
        {"tresvik-db", {"export", recorded, "out", "--format", "gif"}, 2, "--format: gif not in"},
        {"tresvik-db", {"copy", recorded}, 2, "unknown command: copy"},
        {"tresvik-db", {}, 2, "no command given"},
        {"tresvik-db", {"info", root.path() + "/missing"}, 1, "no such folder"},
        {"tresvik-db", {"list", root.path() + "/missing"}, 1, "no such folder"},
        {"tresvik-db", {"info", root.path() + "/held"}, 1, "/held cannot be read: IO error"},
        {"tresvik-db", {"frame", recorded, "301", "x.png"}, 1, "0000000350 in " + recorded},
        {"tresvik-db", {"frame", recorded, "401", output.path() + "/x.png"}, 1, "no frame"},
        {"tresvik-camsim", {"--fps", "0"}, 2, "--fps"},
        {"tresvik-camsim", {"--colour", "red"}, 2, "--colour"},
        {"tresvik-coord-sim", {"--port", "65536"}, 2, "--port"},
        {"tresvik-coord-sim", {"--mode", "sideways"}, 2, "--mode"},
        {"tresvik-coord-sim", {"--text-a", std::string(33, 'x')}, 2, "--text-a"},
        {"tresvik-odometer-sim", {"--pty", "--rate", "0"}, 2, "--rate"},
        {"tresvik-odometer-sim", {"--pty", "--noise-rate", "2"}, 2, "--noise-rate"},
        {"tresvik-odometer-sim", {"--pty", "--profile", "cruise,stop:1s"}, 2, "--profile"},
        {"tresvik-odometer-sim", {"--link", "x"}, 2, "--link"},
        {"tresvik-odometer-sim", {"/dev/null", "--pty"}, 2, "either --pty or a DEVICE"},
        {"tresvik-client", {"status", "--timeout", "nan"}, 2, "--timeout"},
        {"tresvik-client", {"fetch", "--short", "A7", "x", "1", "x.png"}, 2, "--short"},
        {"tresvik-client",
         {"fetch", "--port", "1", "A7", "12", "1", "x.png"},
         1,
         "nothing listens at 127.0.0.1:1"},
    };
    for (const auto& c : cases) {
        const program_run run = tool(c.program, c.arguments);
        EXPECT_EQ(run.exit_code, c.exit_code) << c.program << testing::PrintToString(c.arguments);
        EXPECT_EQ(run.out, "") << c.program;
        EXPECT_THAT(run.err, AllOf(testing::MatchesRegex(c.program + std::string(": [^\n]*\n")),
                                   HasSubstr(c.message)));
    }
}

// Undecodable bytes become U+FFFD, and so do halves of 16-bit wchar_t characters.
TEST(session_rows, json_holds_any_text) {
    const std::pair<std::wstring, std::string> cases[] = {
        {L"A \"7\" \\ 12", "A \"7\" \\ 12"},
        {L"левый\t\n\x01", "левый\t\n\x01"},
        {wide_text("A7 \xff\xfe"), "A7 \uFFFD\uFFFD"},
        {std::wstring{0xD83D, 0xDE00, 0xD83D}, "\U0001F600\uFFFD"},
    };
    for (const auto& [text, utf8] : cases) {
        session_index_entry entry;
        entry.info.session_code = text;
        const nlohmann::json object = nlohmann::json::parse(session_json(entry, key_counts{3, 0}));
        EXPECT_EQ(object["session"], utf8);
        EXPECT_EQ(object["frames"], 3);
    }
}

TEST(command_line, reads_decimal_numbers_in_range_and_names_the_option_otherwise) {
    const struct {
        const char* option;
        const char* text;
        double value; // 0: refused
    } cases[] = {
        {"--width", "640", 640},  {"--width", "010", 10},    {"--width", "+16", 16},
        {"--width", "1e3", 1000}, {"--width", "8192", 8192}, {"--width", "8193", 0},
        {"--width", "7", 0},      {"--width", "12.5", 0},    {"--width", "0x10", 0},
        {"--width", "", 0},       {"--rate", "0.5", 0.5},    {"--rate", "1e6", 1e6},
        {"--rate", "0", 0},       {"--rate", "nan", 0},      {"--rate", "inf", 0},
        {"--rate", "1e400", 0},   {"--rate", "+-1", 0},      {"--rate", "2,5", 0},
    };
    for (const auto& c : cases) {
        sample_tool tool;
        const parse_outcome outcome = parse_arguments(tool, {c.option, c.text});
        const double read = c.option == std::string("--width") ? tool.width : tool.rate;
        EXPECT_EQ(outcome.error.empty() ? read : 0, c.value) << c.text << ": " << outcome.error;
        if (c.value == 0) { // refused, naming the option
            EXPECT_THAT(outcome.error, testing::StartsWith(std::string(c.option) + ": "));
        }
    }
}

// The last of repeated options counts; the usage shows each value's range and default. (A missing
// command is one of the tools' refusals.)
TEST(command_line, repeated_options_and_help) {
    sample_tool tool;
    EXPECT_EQ(parse_arguments(tool, {"--width", "16", "--format", "b", "--width=32"}).error, "");
    EXPECT_EQ(tool.width, 32u);
    EXPECT_EQ(tool.format, 'b');
    EXPECT_TRUE(parse_arguments(tool, {"--rate", "1", "--help"}).help);
    const std::string usage = sample_tool().help();
    for (const char* line : {"--width N", "frame width, 8 to 8192 (default 1024)\n", "--rate X",
                             "packets per second, 0.01 to 1000000 (default 50)\n", "--format a|b",
                             "format (default a)\n"})
        EXPECT_NE(usage.find(line), std::string::npos) << line << " in\n" << usage;
}
