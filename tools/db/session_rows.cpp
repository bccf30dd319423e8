#include "tools/db/session_rows.h"

#include <nlohmann/json.hpp>

#include "base/encoding.h"
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

// The lead byte holds as many high ones as the character has bytes, then the highest bits; each
// continuation byte 10 and the next six.
void append_utf8(std::string& out, char32_t c) {
    const int extra = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
    out += static_cast<char>(extra == 0 ? c : ((0xFF << (7 - extra)) & 0xFF) | (c >> (6 * extra)));
    for (int shift = 6 * (extra - 1); shift >= 0; shift -= 6)
        out += static_cast<char>(0x80 | ((c >> shift) & 0x3F));
}

using json = nlohmann::ordered_json;

json json_dpp(std::uint32_t dpp) {
    return dpp == missing_dpp ? json() : json(dpp);
}

bool is_surrogate(char32_t c) {
    return c >= 0xD800 && c < 0xE000;
}

// A pair of UTF-16 halves, as 16-bit wchar_t platforms hold characters above U+FFFF.
bool is_surrogate_pair(char32_t high, char32_t low) {
    return high >= 0xD800 && high < 0xDC00 && low >= 0xDC00 && low < 0xE000;
}

// What cannot be UTF-8 becomes U+FFFD, so that every JSON parser reads the document: bytes that
// did not decode in the locale (see wide_text) and lone surrogates.
std::string utf8_text(const std::wstring& text) {
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<char32_t>(text[i]);
        if (i + 1 < text.size() && is_surrogate_pair(c, static_cast<char32_t>(text[i + 1])))
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(text[++i]) - 0xDC00);
        else if (is_surrogate(c) || c > 0x10FFFF)
            c = 0xFFFD;
        append_utf8(bytes, c);
    }
    return bytes;
}

// One object per line, as the tool has always printed it for line-oriented scripts; keys and
// values are written by the JSON library.
std::string json_line(const json& object) {
    std::string line;
    for (const auto& [key, value] : object.items())
        line += (line.empty() ? "{" : ", ") + json(key).dump() + ": " + value.dump();
    return line + "}";
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

std::string session_json(const session_index_entry& entry, std::optional<key_counts> counts) {
    const session_info& info = entry.info;
    const json values = json::array({utf8_text(wide_text(entry.path)), utf8_text(info.session_code),
                                     utf8_text(info.orientation), utf8_text(info.side),
                                     utf8_text(info.start_time), utf8_text(info.end_time),
                                     json_dpp(info.dpp_start), json_dpp(info.dpp_end), info.size});
    json object;
    for (std::size_t i = 0; i < values.size(); ++i)
        object[session_field_names[i]] = values[i];
    if (counts) {
        object["frames"] = counts->frames;
        object["other_keys"] = counts->others;
    }
    return json_line(object);
}
