#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

// The GigE Vision wire formats the simulated camera speaks: GVCP requests in and acknowledges out
// on the control port, GVSP leader, data and trailer packets on the stream channel. All numbers
// are big-endian on the wire. Pure functions over bytes, safe on any thread.

namespace gige {

constexpr std::uint16_t control_port = 3956;

// Bytes of an IPv4 and UDP header and of a GVSP header, which the stream channel's packet size
// register counts in with the data.
constexpr std::uint32_t stream_overhead = 20 + 8 + 8;
constexpr std::size_t stream_header_size = 8;
// The most a read or a write of memory may move in one request.
constexpr std::uint32_t memory_block_limit = 536;

enum command : std::uint16_t {
    discovery_cmd = 0x0002,
    packet_resend_cmd = 0x0040,
    read_register_cmd = 0x0080,
    write_register_cmd = 0x0082,
    read_memory_cmd = 0x0084,
    write_memory_cmd = 0x0086,
};

enum status : std::uint16_t {
    success = 0x0000,
    not_implemented = 0x8001,
    invalid_parameter = 0x8002,
    invalid_address = 0x8003,
    access_denied = 0x8006,
    invalid_header = 0x800E,
};

struct discovery {};
struct read_registers {
    std::vector<std::uint32_t> addresses;
};
struct write_registers {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> writes; // address, value
};
struct read_memory {
    std::uint32_t address = 0;
    std::uint32_t size = 0;
};
struct write_memory {
    std::uint32_t address = 0;
    std::vector<std::uint8_t> bytes;
};
// Packets first to last (both included) of one block sent again.
struct packet_resend {
    std::uint64_t block_id = 0;
    std::uint32_t first = 0;
    std::uint32_t last = 0;
};
// A command this camera does not carry out, or one whose body does not fit its command.
struct unsupported {
    status reason = not_implemented;
};

using request_body = std::variant<discovery, read_registers, write_registers, read_memory,
                                  write_memory, packet_resend, unsupported>;

struct request {
    std::uint16_t command = 0;
    std::uint16_t id = 0;
    bool wants_ack = false;
    request_body body;
};

// The request in one datagram; nothing when it is no GVCP command at all (too short, another key,
// or a length that the datagram does not hold), which a camera drops without an answer.
std::optional<request> parse_request(const std::uint8_t* bytes, std::size_t size);

// The acknowledge of a command: its code plus one, the request's id, and the body.
std::vector<std::uint8_t> acknowledge(std::uint16_t command, std::uint16_t id, status result,
                                      const std::vector<std::uint8_t>& body = {});

// Bodies of the acknowledges that carry something besides their status.
std::vector<std::uint8_t> register_values(const std::vector<std::uint32_t>& values);
std::vector<std::uint8_t> memory_read_body(std::uint32_t address,
                                           const std::vector<std::uint8_t>& bytes);
// Write register and write memory: how many registers or bytes were written.
std::vector<std::uint8_t> written_count(std::uint16_t count);

// The parts of one block of image data, numbered as GVSP numbers its packets: 0 the leader, 1 to
// data_packets() the image bytes in order, then the trailer.
struct block_layout {
    std::size_t payload = 0;      // image bytes
    std::uint32_t per_packet = 0; // image bytes in each data packet but the last
    std::uint32_t data_packets() const;
    std::uint32_t trailer_id() const { return data_packets() + 1; }
};
// Image bytes per data packet for the stream channel's packet size register (its low 16 bits);
// at least one.
std::uint32_t data_per_packet(std::uint32_t packet_size_register);

enum class packet_kind : std::uint8_t { leader = 1, trailer = 2, data = 3 };

// The header every GVSP packet starts with.
std::array<std::uint8_t, stream_header_size> stream_header(std::uint16_t block_id, packet_kind kind,
                                                           std::uint32_t packet_id);

struct image_info {
    std::uint64_t timestamp = 0;
    std::uint32_t pixel_format = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t x_offset = 0;
    std::uint32_t y_offset = 0;
};
// What follows the header in an image leader and in its trailer.
std::array<std::uint8_t, 36> leader_body(const image_info& image);
std::array<std::uint8_t, 8> trailer_body(std::uint32_t height);

} // namespace gige
