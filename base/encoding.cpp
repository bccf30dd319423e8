#include "base/encoding.h"

#include <algorithm>
#include <climits>
#include <cwchar>

namespace {
constexpr wchar_t escaped_byte_base = 0xDC00;

// Decodes in the C library's current locale; a byte that does not decode is written as
// stand_in(byte) and decoding starts afresh after it.
template <typename StandIn> std::wstring decode(std::string_view bytes, StandIn stand_in) {
    std::wstring text;
    text.reserve(bytes.length());
    std::mbstate_t state{};
    while (!bytes.empty()) {
        wchar_t c = 0;
        const std::size_t used = std::mbrtowc(&c, bytes.data(), bytes.length(), &state);
        if (used == static_cast<std::size_t>(-1) || used == static_cast<std::size_t>(-2)) {
            state = std::mbstate_t{};
            c = stand_in(static_cast<unsigned char>(bytes[0]));
        }
        text += c;
        bytes.remove_prefix(used == 0 || used > bytes.length() ? 1 : used);
    }
    return text;
}
} // namespace

std::wstring wide_text(std::string_view bytes) {
    return decode(bytes, [](unsigned char byte) { return wchar_t(escaped_byte_base + byte); });
}

std::wstring readable_text(std::string_view bytes) {
    return decode(bytes, [](unsigned char byte) { return wchar_t(byte); });
}

std::string narrow_text(std::wstring_view text) {
    std::string bytes;
    bytes.reserve(text.length());
    std::mbstate_t state{};
    char encoded[MB_LEN_MAX];
    for (wchar_t c : text) {
        if (c >= escaped_byte_base && c <= escaped_byte_base + 0xFF) {
            bytes += static_cast<char>(c - escaped_byte_base);
            continue;
        }
        const std::size_t size = std::wcrtomb(encoded, c, &state);
        if (size == static_cast<std::size_t>(-1)) {
            state = std::mbstate_t{};
            bytes += '?';
        } else {
            bytes += std::string_view(encoded, size);
        }
    }
    return bytes;
}

std::wstring escape_markup(std::wstring_view text, markup_place place) {
    std::wstring escaped;
    escaped.reserve(text.length());
    for (wchar_t c : text) {
        if (c == L'&')
            escaped += L"&amp;";
        else if (c == L'<')
            escaped += L"&lt;";
        else if (c == L'>')
            escaped += L"&gt;";
        else if (c == L'"' && place == markup_place::attribute)
            escaped += L"&quot;";
        else
            escaped += c;
    }
    return escaped;
}

std::string read_padded_text(const unsigned char* field, std::size_t size) {
    return std::string(field, std::find(field, field + size, 0));
}

void write_padded_text(unsigned char* field, std::size_t size, std::string_view text) {
    const std::size_t copied = std::min(text.length(), size);
    std::copy_n(text.data(), copied, field);
    if (copied < size)
        field[copied] = 0;
}
