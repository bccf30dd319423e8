#include "settings/setting_values.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <string>
#include <vector>

namespace {
std::string lower(std::string_view text) {
    std::string lowered(text);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lowered;
}

// Digits with at most one decimal point and at least one digit, read without the locale.
std::optional<double> plain_number(std::string_view text) {
    double whole = 0, scale = 0;
    bool digits = false;
    for (const char c : text) {
        if (c == '.' && scale == 0) {
            scale = 1;
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            digits = true;
            whole = whole * 10 + (c - '0');
            scale *= 10;
        } else {
            return std::nullopt;
        }
    }
    if (!digits || text.size() > 20)
        return std::nullopt;
    return scale > 0 ? whole / scale : whole;
}

// The power of 1024 of a size suffix; nothing when the letter is none of them.
std::optional<int> suffix_power(char letter, std::string_view letters) {
    const std::size_t at = letters.find(static_cast<char>(std::tolower(letter)));
    return at == std::string_view::npos ? std::nullopt : std::optional<int>(static_cast<int>(at));
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string_view::npos)
            return parts;
        start = end + 1;
    }
}

bool valid_rate(std::string_view rate) {
    if (lower(rate) == "off")
        return true;
    if (!rate.empty() && suffix_power(rate.back(), "bkmgtp"))
        rate.remove_suffix(1);
    return plain_number(rate).has_value();
}

bool valid_rates(std::string_view rates) {
    const std::vector<std::string_view> pair = split(rates, ':');
    return pair.size() <= 2 && std::all_of(pair.begin(), pair.end(), valid_rate);
}

bool valid_clock(std::string_view time) {
    const std::vector<std::string_view> parts = split(time, ':');
    if (parts.size() != 2 || parts[0].size() != 2 || parts[1].size() != 2)
        return false;
    const auto hours = plain_number(parts[0]), minutes = plain_number(parts[1]);
    return hours && minutes && std::floor(*hours) == *hours && *hours < 24 &&
           std::floor(*minutes) == *minutes && *minutes < 60;
}

constexpr std::array<std::string_view, 7> day_names = {"mon", "tue", "wed", "thu",
                                                       "fri", "sat", "sun"};

// One entry of a time table, "HH:MM,rate" or "Day-HH:MM,rate".
bool valid_entry(std::string_view entry) {
    const std::size_t comma = entry.find(',');
    if (comma == std::string_view::npos)
        return false;
    std::string_view when = entry.substr(0, comma);
    if (when.size() > 4 && when[3] == '-' &&
        std::find(day_names.begin(), day_names.end(), lower(when.substr(0, 3))) != day_names.end())
        when.remove_prefix(4);
    return valid_clock(when) && valid_rates(entry.substr(comma + 1));
}
} // namespace

std::uint64_t free_space_goal::wanted(std::uint64_t volume_bytes) const {
    if (bytes)
        return *bytes;
    return static_cast<std::uint64_t>(static_cast<long double>(volume_bytes) * percent / 100);
}

std::optional<free_space_goal> parse_free_space(std::string_view text) {
    if (!text.empty() && text.back() == '%') {
        const auto percent = plain_number(text.substr(0, text.size() - 1));
        if (!percent || *percent >= 100)
            return std::nullopt;
        return free_space_goal{*percent, std::nullopt};
    }
    int power = 0;
    if (!text.empty())
        if (const auto found = suffix_power(text.back(), " kmgt"); found && *found > 0) {
            power = *found;
            text.remove_suffix(1);
        }
    const auto size = plain_number(text);
    const double bytes = size ? *size * std::pow(1024.0, power) : -1;
    if (bytes < 0 || bytes >= 1.8e19)
        return std::nullopt;
    return free_space_goal{0, static_cast<std::uint64_t>(bytes)};
}

bool valid_bandwidth_limit(std::string_view text) {
    if (text.find(',') == std::string_view::npos)
        return text.empty() || valid_rates(text);
    const std::vector<std::string_view> entries = split(text, ' ');
    return std::all_of(entries.begin(), entries.end(), valid_entry);
}

std::optional<bool> parse_switch(std::string_view text) {
    const std::string lowered = lower(text);
    if (lowered == "1" || lowered == "true")
        return true;
    if (lowered == "0" || lowered == "false")
        return false;
    return std::nullopt;
}

bool valid_folder_name(std::string_view text) {
    return !text.empty() && text != "." && text != ".." &&
           text.find_first_of("/\\:") == std::string_view::npos;
}
