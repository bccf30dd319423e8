#pragma once

// Pure helpers of text and bytes that every module shares: narrow text of the C library's current
// locale, markup escaping, and the little-endian, NUL-padded records of the peers. No toolkit and
// no Asio; safe on any thread.

#include <cstddef>
#include <string>
#include <string_view>
#include <type_traits>

// Narrow text (stored values, paths, system messages) is in the C library's current locale. A
// byte that does not decode there becomes the code point U+DC00 + byte in wide_text and the same
// byte again in narrow_text, so any stored value survives a round trip unchanged. A character
// that the locale cannot represent becomes '?'.
std::wstring wide_text(std::string_view bytes);
std::string narrow_text(std::wstring_view text);

// wide_text for the operator's eyes (log rows, boxes): a byte that does not decode shows as the
// Latin-1 character of its value, because the toolkit cannot draw the U+DC00 range.
std::wstring readable_text(std::string_view bytes);

// The text with '&', '<' and '>' written as entities, and in a quoted attribute '"' as well, so
// that it shows as it is in HTML or XML. Element content keeps its quotes, as the log file always
// has.
enum class markup_place { content, attribute };
std::wstring escape_markup(std::wstring_view text, markup_place place = markup_place::content);

// An integer in sizeof(T) bytes, lowest byte first whatever the host's order; a signed one as its
// two's complement.
template <typename T> T read_little_endian(const unsigned char* bytes) {
    using bits_type = std::make_unsigned_t<T>;
    bits_type bits = 0;
    for (std::size_t i = sizeof(T); i-- > 0;)
        bits = static_cast<bits_type>(bits << 8 | bytes[i]);
    return static_cast<T>(bits);
}

template <typename T> void write_little_endian(unsigned char* bytes, T value) {
    auto bits = static_cast<std::make_unsigned_t<T>>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i, bits >>= 8)
        bytes[i] = static_cast<unsigned char>(bits);
}

// A text field of a fixed size: the text ends at its first NUL, or at the field's end without one.
std::string read_padded_text(const unsigned char* field, std::size_t size);
// Copies as much of the text as the field holds and ends it with a NUL when room is left; the
// bytes after that NUL stay as they were.
void write_padded_text(unsigned char* field, std::size_t size, std::string_view text);
