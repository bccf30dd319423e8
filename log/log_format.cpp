#include "log/log_format.h"

#include <cstdio>
#include <cwchar>

#include "base/encoding.h"

namespace {
constexpr std::int64_t seven_days = 7 * 24 * 60 * 60;
const std::string name_prefix = "tresvik[";
const std::string name_suffix = "].html";
} // namespace

// Room for every field at its widest (an int's eleven characters, the year's as a long long),
// so a broken-down time from anywhere gives its raw numbers rather than a cut text.
std::wstring format_log_time(const std::tm& local) {
    wchar_t text[96];
    const int written = std::swprintf(
        text, sizeof text / sizeof *text, L"%02d.%02lld.%04lld %02d:%02d:%02d", local.tm_mday,
        local.tm_mon + 1LL, local.tm_year + 1900LL, local.tm_hour, local.tm_min, local.tm_sec);
    return written < 0 ? std::wstring(L"—") : std::wstring(text, static_cast<std::size_t>(written));
}

std::wstring format_log_row(log_level level, const std::tm& local, const std::wstring& message) {
    const wchar_t* colour = level == log_level::error ? L"red" : L"blue";
    return L"<tr>\n<td>" + format_log_time(local) + L"</td>\n<td> <font color='" + colour + L"'>" +
           escape_markup(message) + L"</font></td>\n</tr>\n";
}

std::string log_file_name(std::int64_t unix_seconds, std::uint32_t pid) {
    return name_prefix + std::to_string(static_cast<std::uint32_t>(unix_seconds)) +
           std::to_string(pid) + name_suffix;
}

bool is_log_file_name(const std::string& name) {
    return name.size() >= name_prefix.size() + name_suffix.size() &&
           name.compare(0, name_prefix.size(), name_prefix) == 0 &&
           name.compare(name.size() - name_suffix.size(), name_suffix.size(), name_suffix) == 0;
}

// The difference of two 64-bit times needs 65 bits; it is taken only where it is positive, then
// exactly in unsigned arithmetic.
bool is_expired_log(std::int64_t now, std::int64_t modified) {
    return modified<now&& static_cast<std::uint64_t>(now) -
                    static_cast<std::uint64_t>(modified)> static_cast<std::uint64_t>(seven_days);
}
