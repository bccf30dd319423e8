#include "log/log_format.h"

#include <climits>
#include <cstdio>
#include <cwchar>

namespace {
constexpr std::int64_t seven_days = 7 * 24 * 60 * 60;
const std::string name_prefix = "tresvik[";
const std::string name_suffix = "].html";
} // namespace

std::wstring format_log_time(const std::tm& local) {
    wchar_t text[32];
    std::swprintf(text, 32, L"%02d.%02d.%04d %02d:%02d:%02d", local.tm_mday, local.tm_mon + 1,
                  local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

std::wstring escape_html(const std::wstring& text) {
    std::wstring escaped;
    escaped.reserve(text.size());
    for (wchar_t c : text) {
        if (c == L'&')
            escaped += L"&amp;";
        else if (c == L'<')
            escaped += L"&lt;";
        else if (c == L'>')
            escaped += L"&gt;";
        else
            escaped += c;
    }
    return escaped;
}

std::wstring format_log_row(log_level level, const std::tm& local, const std::wstring& message) {
    const wchar_t* colour = level == log_level::error ? L"red" : L"blue";
    return L"<tr>\n<td>" + format_log_time(local) + L"</td>\n<td> <font color='" + colour + L"'>" +
           escape_html(message) + L"</font></td>\n</tr>\n";
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

bool is_expired_log(std::int64_t now, std::int64_t modified) {
    return now - modified > seven_days;
}

std::string to_locale_text(const std::wstring& text) {
    std::string narrow;
    narrow.reserve(text.size());
    std::mbstate_t state{};
    char bytes[MB_LEN_MAX];
    for (wchar_t c : text) {
        const std::size_t n = std::wcrtomb(bytes, c, &state);
        if (n == static_cast<std::size_t>(-1)) {
            state = std::mbstate_t{};
            narrow += '?';
        } else {
            narrow.append(bytes, n);
        }
    }
    return narrow;
}
