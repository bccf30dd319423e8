#pragma once

// The data service's wire format, as pure values: what a request names and how a response is
// framed. No sockets and no toolkit; the service's event loop and the client tool share it.
//
// A request is read with one receive of at most 1024 bytes, and its length selects the form:
// 16 bytes (two numbers name the session) or 1024 bytes (two texts). All integers are
// little-endian. A response is the PNG's length as 4 bytes, then the PNG; length 0 means that no
// image could be produced.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

inline constexpr std::size_t short_request_size = 16;
inline constexpr std::size_t long_request_size = 1024;
inline constexpr std::size_t response_header_size = 4;

// What a request asks for. The session code is the text compared with the indexed sessions'
// codes: "%#x : %#x" of the two numbers, or "A : B" of the two texts (narrow bytes as sent).
struct frame_request {
    bool live = false; // the second part is 0 or empty: the session being recorded
    std::string session_code;
    std::uint32_t dpp = 0;
};

// Nothing when the size is neither 16 nor 1024 bytes.
std::optional<frame_request> parse_frame_request(const unsigned char* bytes, std::size_t size);

// "%#x" of printf: lowercase hexadecimal after "0x", except that zero is a lone "0".
std::string hex_code_part(std::uint64_t value);

// The two forms a client sends. Texts longer than their field (20 and 16 bytes) are cut.
std::array<unsigned char, short_request_size>
short_request(std::uint64_t first, std::uint32_t second, std::uint32_t dpp);
std::vector<unsigned char> long_request(const std::string& first, const std::string& second,
                                        std::uint32_t dpp);

// The setting data_service_port: an unsigned decimal number whose low 16 bits are the port (78136
// is 12600). Nothing for any other text.
std::optional<std::uint16_t> parse_service_port(const std::string& text);

// Writes the length of what follows the first four bytes into them, lowest byte first.
void seal_response(std::vector<unsigned char>& response);
// The length a response header announces.
std::uint32_t announced_length(const unsigned char* header);
