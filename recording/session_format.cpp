#include "recording/session_format.h"

#include <cstdio>
#include <ctime>
#include <limits>
#include <optional>
#include <stdexcept>

namespace {
constexpr std::uint64_t max_dpp = std::numeric_limits<std::uint32_t>::max();
constexpr std::uint64_t max_seconds = std::numeric_limits<std::int64_t>::max();

// The value of a run of decimal digits, or nothing when it is empty, holds a non-digit or exceeds
// the limit.
std::optional<std::uint64_t> parse_digits(std::string_view digits, std::uint64_t limit) {
    if (digits.empty())
        return std::nullopt;
    std::uint64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        const unsigned digit = static_cast<unsigned>(c - '0');
        if (value > (limit - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

// Splits off one leading sign; true when it was '-'.
bool take_sign(std::string_view& text) {
    if (text.empty() || (text.front() != '+' && text.front() != '-'))
        return false;
    const bool negative = text.front() == '-';
    text.remove_prefix(1);
    return negative;
}

std::invalid_argument bad_value(const char* what, std::string_view text) {
    constexpr std::size_t shown = 32;
    std::string quoted(text.substr(0, shown));
    if (text.size() > shown)
        quoted += "...";
    return std::invalid_argument(std::string("not ") + what + ": \"" + quoted + "\"");
}

// The platform's thread-safe conversion to local broken-down time.
bool to_local_time(std::time_t seconds, std::tm& local) {
#ifdef _WIN32
    return localtime_s(&local, &seconds) == 0;
#else
    return localtime_r(&seconds, &local) != nullptr;
#endif
}

// JPEG markers, the byte after 0xFF: start and end of the image, start of a scan.
constexpr unsigned jpeg_start = 0xD8;
constexpr unsigned jpeg_end = 0xD9;
constexpr unsigned jpeg_scan = 0xDA;

unsigned byte_at(std::string_view bytes, std::size_t at) {
    return static_cast<unsigned char>(bytes[at]);
}

int big_endian_16(std::string_view bytes, std::size_t at) {
    return static_cast<int>(byte_at(bytes, at) << 8 | byte_at(bytes, at + 1));
}

// SOF0 to SOF15; 0xC4, 0xC8 and 0xCC in that range are tables and a reserved code.
bool is_jpeg_frame_header(unsigned marker) {
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Restart markers and TEM carry no length.
bool is_standalone_jpeg_marker(unsigned marker) {
    return marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7);
}

// Every other marker from 0xC0 on is followed by its length, except the start and end of the
// image, which have no place before the first scan; the codes below 0xC0 are reserved.
bool is_segment_jpeg_marker(unsigned marker) {
    return marker >= 0xC0 && marker != jpeg_start && marker != jpeg_end;
}

// The marker at `at`: 0xFF, any number of 0xFF fill bytes, then its code; `at` moves past it.
// Nothing when another byte stands there or the bytes end.
std::optional<unsigned> next_jpeg_marker(std::string_view bytes, std::size_t& at) {
    if (at >= bytes.size() || byte_at(bytes, at) != 0xFF)
        return std::nullopt;
    while (at < bytes.size() && byte_at(bytes, at) == 0xFF)
        ++at;
    if (at >= bytes.size())
        return std::nullopt;
    return byte_at(bytes, at++);
}
} // namespace

std::string frame_key(std::uint32_t dpp) {
    char text[16];
    std::snprintf(text, sizeof text, "%010u", static_cast<unsigned>(dpp));
    return text;
}

bool is_frame_key(std::string_view key) {
    return key.size() == 10 && parse_digits(key, max_dpp).has_value();
}

bool is_metadata_key(std::string_view key) {
    for (std::string_view metadata : {key_dpp_end, key_dpp_start, key_orientation, key_session,
                                      key_side, key_time_end, key_time_start, key_version})
        if (key == metadata)
            return true;
    return false;
}

std::uint32_t parse_dpp(std::string_view text) {
    std::string_view digits = text;
    const bool negative = take_sign(digits);
    const auto value = parse_digits(digits, max_dpp);
    if (!value)
        throw bad_value("a DPP number", text);
    const auto magnitude = static_cast<std::uint32_t>(*value);
    return negative ? static_cast<std::uint32_t>(0u - magnitude) : magnitude;
}

std::string format_unix_seconds(std::int64_t seconds) {
    return std::to_string(seconds);
}

std::int64_t parse_unix_seconds(std::string_view text) {
    std::string_view digits = text;
    const bool negative = take_sign(digits);
    const auto value = parse_digits(digits, negative ? max_seconds + 1 : max_seconds);
    if (!value)
        throw bad_value("a time in seconds", text);
    return negative ? static_cast<std::int64_t>(0u - *value) : static_cast<std::int64_t>(*value);
}

std::optional<std::string> format_local_time(std::int64_t seconds) {
    std::tm local{};
    if (static_cast<std::time_t>(seconds) != seconds ||
        !to_local_time(static_cast<std::time_t>(seconds), local))
        return std::nullopt;
    // The year in 64 bits: tm_year + 1900 leaves an int for the last years the platform converts.
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900LL,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

std::optional<frame_size> declared_jpeg_size(std::string_view bytes) {
    if (bytes.size() < 2 || byte_at(bytes, 0) != 0xFF || byte_at(bytes, 1) != jpeg_start)
        return std::nullopt;
    std::optional<frame_size> size;
    for (std::size_t at = 2;;) {
        const std::optional<unsigned> marker = next_jpeg_marker(bytes, at);
        if (!marker || *marker == jpeg_scan)
            return marker ? size : std::nullopt;
        if (is_standalone_jpeg_marker(*marker))
            continue;
        if (!is_segment_jpeg_marker(*marker) || at + 2 > bytes.size())
            return std::nullopt;
        const std::size_t length = big_endian_16(bytes, at);
        if (length < 2 || length > bytes.size() - at)
            return std::nullopt;
        if (is_jpeg_frame_header(*marker)) {
            if (size || length < 8)
                return std::nullopt; // the decoder refuses a second one; so does this walk
            size = frame_size{big_endian_16(bytes, at + 5), big_endian_16(bytes, at + 3)};
            if (size->width == 0 || size->height == 0)
                return std::nullopt;
        }
        at += length;
    }
}
