#pragma once

// The commands of tresvik-db. Each prints its result on standard output and its warnings on
// standard error, returns the exit status, and throws on failure (main prints the text).

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// A command line that does not fit the usage: exit status 2 with the usage text.
class usage_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct command_line {
    std::string command;
    std::vector<std::string> operands;
    bool json = false;
    std::optional<std::uint32_t> from;
    std::optional<std::uint32_t> to;
    std::string format = "png";
};

extern const char* const usage_text;

command_line parse_command_line(const std::vector<std::string>& arguments);

int run_command(const command_line& line);
