#pragma once

// How every tool reads its command line, with CLI11. "--help" asks for the usage, which shows each
// option's value, range and default; a bad command line comes back as one line naming the option.
// An option given more than once takes its last value, so a caller can override a default it
// passed earlier (the tests start the simulators that way).

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>

// An App with the tools' usage layout and option rules; subcommands added to it inherit both.
class tool_app : public CLI::App {
public:
    tool_app(std::string name, std::string description);
};

struct parse_outcome {
    bool help = false;
    std::string error; // one line; empty when the command line is good
};

// The arguments after the program name.
parse_outcome parse_arguments(CLI::App& app, const std::vector<std::string>& arguments);

// For main: reads the command line and runs the tool, returning the exit status. "--help" prints
// the usage on standard output (0); a bad command line (2), or a failure the tool throws (1), is
// "<tool>: <error>" on standard error.
int run_tool(CLI::App& app, int argc, char** argv, const std::function<int()>& tool);

// The finite number the whole text spells in decimal notation ("12", "-1", "+2.5", "1e3"), read
// the same in every locale.
std::optional<double> decimal_number(const std::string& text);

// The shortest decimal text that reads back as the value, without exponent.
std::string number_text(double value);

// Accepts decimal numbers from low to high, both included; with whole, only whole ones.
CLI::Validator number_range(double low, double high, bool whole);

// Accepts texts of shortest to longest bytes.
CLI::Validator byte_length(std::size_t shortest, std::size_t longest);

// A number option; the usage shows its range and the target's value as the default.
template <typename T>
CLI::Option* add_number(CLI::App& app, const std::string& name, T& target, double low, double high,
                        const std::string& description) {
    constexpr bool whole = std::is_integral_v<T>;
    return app
        .add_option_function<std::string>(
            name,
            [&target](const std::string& text) { target = static_cast<T>(*decimal_number(text)); },
            description)
        ->check(number_range(low, high, whole))
        ->type_name(whole ? "N" : "X")
        ->default_str(number_text(static_cast<double>(target)));
}

// An option whose value is one of the named choices; the usage shows the names and the name of
// the target's value as the default.
template <typename T>
CLI::Option* add_choice(CLI::App& app, const std::string& name, T& target,
                        const std::vector<std::pair<std::string, T>>& choices,
                        const std::string& description) {
    std::vector<std::string> names;
    std::string current;
    for (const auto& [choice, value] : choices) {
        names.push_back(choice);
        if (value == target)
            current = choice;
    }
    return app
        .add_option_function<std::string>(
            name,
            [&target, choices](const std::string& text) {
                for (const auto& [choice, value] : choices)
                    if (choice == text)
                        target = value;
            },
            description)
        ->check(CLI::IsMember(names).description(""))
        ->type_name(CLI::detail::join(names, "|"))
        ->default_str(current);
}
