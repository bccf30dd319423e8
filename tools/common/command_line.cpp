#include "tools/common/command_line.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iostream>

namespace {
constexpr std::size_t usage_width = 100;

// "--rate X   packets per second, 0.01 to 1000000 (default 50)": the value's name beside the
// option; what it accepts and its default after the description, on a line of their own when
// the description has several or the line would grow too long.
class tool_formatter : public CLI::Formatter {
public:
    std::string make_option_opts(const CLI::Option* option) const override {
        if (option->get_positional() || option->get_type_size() == 0)
            return "";
        return " " + type_parts(option).front();
    }

    std::string make_option_desc(const CLI::Option* option) const override {
        std::vector<std::string> checks = type_parts(option);
        checks.erase(checks.begin());
        std::string accepted = CLI::detail::join(checks, ", ");
        if (!option->get_required() && !option->get_default_str().empty())
            accepted +=
                (accepted.empty() ? "(default " : " (default ") + option->get_default_str() + ")";
        const std::string description = option->get_description();
        if (accepted.empty())
            return description;
        if (description.find('\n') != std::string::npos ||
            description.size() + accepted.size() + 2 > usage_width - get_column_width())
            return description + "\n" + accepted;
        return description + (checks.empty() ? " " : ", ") + accepted;
    }

private:
    // CLI11 joins the type's name and each check's description with ':'.
    static std::vector<std::string> type_parts(const CLI::Option* option) {
        return CLI::detail::split(option->get_type_name(), ':');
    }
};

// CLI11 says only that a command is required; name the word that is none, or the option that
// came where a command was due.
std::string command_missing(const std::vector<std::string>& arguments) {
    const auto word = std::find_if(arguments.begin(), arguments.end(),
                                   [](const std::string& argument) { return argument[0] != '-'; });
    if (word != arguments.end())
        return "unknown command: " + *word;
    return arguments.empty() ? "no command given" : "no command given before " + arguments.front();
}

std::string in_quotes(const std::string& text) {
    return "\"" + text + "\"";
}
} // namespace

tool_app::tool_app(std::string name, std::string description)
    : CLI::App(std::move(description), std::move(name)) {
    formatter(std::make_shared<tool_formatter>());
    get_formatter()->column_width(28);
    option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

parse_outcome parse_arguments(CLI::App& app, const std::vector<std::string>& arguments) {
    std::vector<std::string> last_first(arguments.rbegin(), arguments.rend());
    try {
        app.parse(last_first);
        return {};
    } catch (const CLI::CallForHelp&) {
        return {true, ""};
    } catch (const CLI::RequiredError& e) {
        const bool no_command =
            app.get_require_subcommand_min() > 0 && app.get_subcommands().empty();
        return {false, no_command ? command_missing(arguments) : e.what()};
    } catch (const CLI::ParseError& e) {
        return {false, e.what()};
    }
}

int run_tool(CLI::App& app, int argc, char** argv, const std::function<int()>& tool) {
    const parse_outcome outcome = parse_arguments(app, {argv + 1, argv + argc});
    if (outcome.help) {
        std::cout << app.help(); // the help of the subcommand given, if any
        return 0;
    }
    if (!outcome.error.empty()) {
        std::cerr << app.get_name() << ": " << outcome.error << '\n';
        return 2;
    }
    try {
        return tool();
    } catch (const std::exception& e) {
        std::cerr << app.get_name() << ": " << e.what() << '\n';
        return 1;
    }
}

std::optional<double> decimal_number(const std::string& text) {
    // from_chars ignores the locale but takes no '+'.
    const bool plus = text.size() > 1 && text[0] == '+' && text[1] != '-';
    const char* last = text.data() + text.size();
    double value = 0;
    const auto [end, error] = std::from_chars(text.data() + (plus ? 1 : 0), last, value);
    if (error != std::errc() || end != last || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::string number_text(double value) {
    char text[400];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
    return std::string(text, result.ptr);
}

CLI::Validator number_range(double low, double high, bool whole) {
    const std::string range = number_text(low) + " to " + number_text(high);
    const std::string kind = whole ? "a whole number" : "a number";
    return CLI::Validator(
        [=](std::string& text) -> std::string {
            const std::optional<double> value = decimal_number(text);
            if (value && *value >= low && *value <= high &&
                (!whole || std::floor(*value) == *value))
                return "";
            return "not " + kind + " from " + range + ": " + in_quotes(text);
        },
        range);
}

CLI::Validator byte_length(std::size_t shortest, std::size_t longest) {
    const std::string allowed = (shortest == 0 ? "at most " : std::to_string(shortest) + " to ") +
                                std::to_string(longest) + " bytes";
    return CLI::Validator(
        [=](std::string& text) -> std::string {
            if (text.size() >= shortest && text.size() <= longest)
                return "";
            return std::to_string(text.size()) + " bytes long, " + allowed +
                   " allowed: " + in_quotes(text);
        },
        allowed);
}
