#pragma once

// The data service's wire format, as pure values: what a request names and how a response is
// framed. No sockets and no toolkit; the service's event loop and the client tool share it.
//
// A request is 16 bytes (two numbers name the session) or 1024 bytes (two texts); request_reader
// finds where requests begin and end in a connection's stream. All integers are little-endian. A
// response is the PNG's length as 4 bytes, then the PNG; length 0 means that no image could be
// produced.

#include <array>
#include <chrono>
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

// How long the request reader waits. The settle time outlasts a delayed acknowledgement (40 ms on
// Linux, 200 ms on Windows), so a request the network cut in two is whole before it is judged. The
// give-up time is far beyond any pause inside one request a live client makes.
struct request_timing {
    std::chrono::milliseconds settle{200};
    std::chrono::milliseconds give_up{5000};
};

// Cuts one connection's byte stream into requests; pure (bytes and time points in, values out).
// The bytes waiting for the next request are:
// - exactly 16 or exactly 1024: one request, at once (one request per send, no added latency);
// - else, once no byte has come for the settle time: whole requests of one form, 1024 bytes each
//   when their count is a multiple of 1024, else 16 bytes each when it is a multiple of 16;
// - else awaited until the give-up time after their first byte: then they are a bad request.
// At most `capacity` bytes wait, and none are taken while requests cut earlier are still to be
// taken, so a client that sends without pause is held back by its own connection, not buffered.
class request_reader {
public:
    using clock = std::chrono::steady_clock;
    // Sixteen long requests: a deep pipeline, and with each connection's receive buffer of the
    // same size, 256 connections hold no more than 8 MiB.
    static constexpr std::size_t capacity = 16 * long_request_size;

    explicit request_reader(request_timing timing = {}) : timing_(timing) {}

    // How many bytes add() takes now.
    std::size_t room() const;
    // Bytes that arrived at `now`; returns how many were taken (at most room()).
    std::size_t add(const unsigned char* bytes, std::size_t size, clock::time_point now);
    // No byte will come any more (end of stream): the bytes waiting are judged at once.
    void finish() { finished_ = true; }
    // The next request as of `now`, oldest first.
    std::optional<frame_request> next(clock::time_point now);
    // True when the bytes waiting make no whole request and may no longer wait.
    bool failed(clock::time_point now) const;
    // True when no byte waits and no request is left to take.
    bool empty() const { return bytes_.empty(); }
    // When next() or failed() may give something new without another byte; nothing when only
    // another byte (or taking the requests ready now) can.
    std::optional<clock::time_point> deadline() const;

private:
    request_timing timing_;
    std::vector<unsigned char> bytes_;
    std::size_t form_ = 0;   // 16 or 1024 once bytes_ is cut into requests; 0 while they wait
    std::size_t offset_ = 0; // of the next request in bytes_, once cut
    clock::time_point first_byte_, last_byte_;
    bool finished_ = false;
};

// "%#x" of printf: lowercase hexadecimal after "0x", except that zero is a lone "0".
std::string hex_code_part(std::uint64_t value);

// The two forms a client sends. Texts longer than their field (20 and 16 bytes) are cut.
std::array<unsigned char, short_request_size>
short_request(std::uint64_t first, std::uint32_t second, std::uint32_t dpp);
std::vector<unsigned char> long_request(const std::string& first, const std::string& second,
                                        std::uint32_t dpp);

// The setting data_service_port: a decimal number from 1 to 65535 (leading zeros allowed). Nothing
// for any other text: 0, a larger number, a sign, a blank or a NUL byte anywhere.
std::optional<std::uint16_t> parse_service_port(const std::string& text);

// Writes the length of what follows the first four bytes into them, lowest byte first.
void seal_response(std::vector<unsigned char>& response);
// The length a response header announces.
std::uint32_t announced_length(const unsigned char* header);
// The largest length a client believes: the PNG of an 8192 x 8192 three-channel frame is at most
// about 201 MB even when nothing compresses (stored blocks), so a frame the camera could ever
// give fits, and a header of junk (up to 4 GiB) is not taken for a length to allocate.
inline constexpr std::uint32_t max_response_length = 256u << 20;

// The text with each control byte (a NUL included) written as \xNN, for a log row.
std::string visible_text(const std::string& text);
