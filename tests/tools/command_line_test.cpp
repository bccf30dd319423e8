#include "tools/common/command_line.h"

#include <cstdint>

#include <gmock/gmock.h>

namespace {
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
} // namespace

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
