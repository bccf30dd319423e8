#include "tools/db/session_rows.h"

#include <cstdio>

#include "recording/session_format.h"

namespace {
std::string one_line(const std::wstring& text) {
    std::string bytes = narrow_text(text);
    for (char& c : bytes) {
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    }
    return bytes;
}

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string json_dpp(std::uint32_t dpp) {
    return dpp == missing_dpp ? "null" : std::to_string(dpp);
}

// Lone surrogates (escaped bytes, or halves on 16-bit wchar_t platforms) cannot be UTF-8.
bool needs_unicode_escape(char32_t c) {
    return c < 0x20 || (c >= 0xD800 && c < 0xE000);
}
} // namespace

std::string dpp_text(std::uint32_t dpp) {
    return dpp == missing_dpp ? "-" : std::to_string(dpp);
}

const std::vector<std::string> session_field_names = {"path",      "session",    "orientation",
                                                      "side",      "time_start", "time_end",
                                                      "dpp_start", "dpp_end",    "size"};

std::vector<std::string> session_fields(const session_index_entry& entry) {
    const session_info& info = entry.info;
    return {one_line(wide_text(entry.path)), one_line(info.session_code),
            one_line(info.orientation),      one_line(info.side),
            one_line(info.start_time),       one_line(info.end_time),
            dpp_text(info.dpp_start),        dpp_text(info.dpp_end),
            std::to_string(info.size)};
}

std::string session_row(const session_index_entry& entry) {
    const std::vector<std::string> fields = session_fields(entry);
    std::string row = fields.front();
    for (std::size_t i = 1; i < fields.size(); ++i)
        row += '\t' + fields[i];
    return row;
}

std::string session_json(const session_index_entry& entry, std::optional<std::uint64_t> frames) {
    const session_info& info = entry.info;
    std::string json = "{\"path\": " + json_string(wide_text(entry.path)) +
                       ", \"session\": " + json_string(info.session_code) +
                       ", \"orientation\": " + json_string(info.orientation) +
                       ", \"side\": " + json_string(info.side) +
                       ", \"time_start\": " + json_string(info.start_time) +
                       ", \"time_end\": " + json_string(info.end_time) +
                       ", \"dpp_start\": " + json_dpp(info.dpp_start) +
                       ", \"dpp_end\": " + json_dpp(info.dpp_end) +
                       ", \"size\": " + std::to_string(info.size);
    if (frames)
        json += ", \"frames\": " + std::to_string(*frames);
    return json + "}";
}

std::string json_string(const std::wstring& text) {
    std::string json = "\"";
    for (wchar_t wide : text) {
        const auto c = static_cast<char32_t>(wide);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += static_cast<char>(c);
        } else if (needs_unicode_escape(c)) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
            json += escape;
        } else {
            append_utf8(json, c);
        }
    }
    return json + "\"";
}
