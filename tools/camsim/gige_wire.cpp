#include "tools/camsim/gige_wire.h"

namespace gige {

namespace {

constexpr std::uint8_t command_key = 0x42;
constexpr std::uint8_t flag_ack_required = 0x01;
constexpr std::uint8_t flag_extended_ids = 0x10;
constexpr std::size_t header_size = 8;
constexpr std::uint16_t payload_type_image = 0x0001;

std::uint32_t word(const std::uint8_t* bytes) {
    return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
           std::uint32_t{bytes[2]} << 8 | bytes[3];
}

std::uint16_t half(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

template <typename Out> Out* put(Out* out, std::uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        *out++ = static_cast<std::uint8_t>(value >> (8 * i));
    return out;
}

void append(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
    out.resize(out.size() + static_cast<std::size_t>(bytes));
    put(out.data() + out.size() - bytes, value, bytes);
}

request_body registers_read(const std::uint8_t* body, std::size_t size) {
    if (size == 0 || size % 4 != 0)
        return unsupported{invalid_parameter};
    read_registers read;
    for (std::size_t at = 0; at < size; at += 4)
        read.addresses.push_back(word(body + at));
    return read;
}

request_body registers_written(const std::uint8_t* body, std::size_t size) {
    if (size == 0 || size % 8 != 0)
        return unsupported{invalid_parameter};
    write_registers write;
    for (std::size_t at = 0; at < size; at += 8)
        write.writes.emplace_back(word(body + at), word(body + at + 4));
    return write;
}

request_body memory_read(const std::uint8_t* body, std::size_t size) {
    if (size != 8)
        return unsupported{invalid_parameter};
    const read_memory read{word(body), half(body + 6)};
    if (read.size == 0 || read.size > memory_block_limit)
        return unsupported{invalid_parameter};
    return read;
}

request_body memory_written(const std::uint8_t* body, std::size_t size) {
    if (size <= 4 || size - 4 > memory_block_limit)
        return unsupported{invalid_parameter};
    return write_memory{word(body), std::vector<std::uint8_t>(body + 4, body + size)};
}

// The plain form names the block in the low half of its first word and packets by 24 bits; the
// extended form puts the block's 64 bits after full 32-bit packet ids.
request_body resend(const std::uint8_t* body, std::size_t size, bool extended) {
    if (size != (extended ? 20u : 12u))
        return unsupported{invalid_parameter};
    if (extended)
        return packet_resend{std::uint64_t{word(body + 12)} << 32 | word(body + 16), word(body + 4),
                             word(body + 8)};
    return packet_resend{half(body + 2), word(body + 4) & 0xFFFFFF, word(body + 8) & 0xFFFFFF};
}

request_body body_of(std::uint16_t command, std::uint8_t flags, const std::uint8_t* body,
                     std::size_t size) {
    switch (command) {
    case discovery_cmd:
        return discovery{};
    case read_register_cmd:
        return registers_read(body, size);
    case write_register_cmd:
        return registers_written(body, size);
    case read_memory_cmd:
        return memory_read(body, size);
    case write_memory_cmd:
        return memory_written(body, size);
    case packet_resend_cmd:
        return resend(body, size, (flags & flag_extended_ids) != 0);
    default:
        return unsupported{not_implemented};
    }
}

} // namespace

std::optional<request> parse_request(const std::uint8_t* bytes, std::size_t size) {
    if (size < header_size || bytes[0] != command_key)
        return std::nullopt;
    const std::size_t length = half(bytes + 4);
    if (length > size - header_size)
        return std::nullopt;
    request parsed;
    parsed.command = half(bytes + 2);
    parsed.id = half(bytes + 6);
    parsed.wants_ack = (bytes[1] & flag_ack_required) != 0;
    parsed.body = body_of(parsed.command, bytes[1], bytes + header_size, length);
    return parsed;
}

std::vector<std::uint8_t> acknowledge(std::uint16_t command, std::uint16_t id, status result,
                                      const std::vector<std::uint8_t>& body) {
    std::vector<std::uint8_t> out;
    out.reserve(header_size + body.size());
    append(out, result, 2);
    append(out, command + 1u, 2);
    append(out, body.size(), 2);
    append(out, id, 2);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

std::vector<std::uint8_t> register_values(const std::vector<std::uint32_t>& values) {
    std::vector<std::uint8_t> out;
    for (std::uint32_t value : values)
        append(out, value, 4);
    return out;
}

std::vector<std::uint8_t> memory_read_body(std::uint32_t address,
                                           const std::vector<std::uint8_t>& bytes) {
    std::vector<std::uint8_t> out;
    append(out, address, 4);
    out.insert(out.end(), bytes.begin(), bytes.end());
    return out;
}

std::vector<std::uint8_t> written_count(std::uint16_t count) {
    std::vector<std::uint8_t> out;
    append(out, count, 4);
    return out;
}

std::uint32_t block_layout::data_packets() const {
    return static_cast<std::uint32_t>((payload + per_packet - 1) / per_packet);
}

std::uint32_t data_per_packet(std::uint32_t packet_size_register) {
    const std::uint32_t packet_size = packet_size_register & 0xFFFF;
    return packet_size > stream_overhead ? packet_size - stream_overhead : 1;
}

std::array<std::uint8_t, stream_header_size> stream_header(std::uint16_t block_id, packet_kind kind,
                                                           std::uint32_t packet_id) {
    std::array<std::uint8_t, stream_header_size> out{};
    std::uint8_t* at = put(out.data() + 2, block_id, 2);
    put(at, std::uint32_t{static_cast<std::uint8_t>(kind)} << 24 | (packet_id & 0xFFFFFF), 4);
    return out;
}

std::array<std::uint8_t, 36> leader_body(const image_info& image) {
    std::array<std::uint8_t, 36> out{};
    std::uint8_t* at = put(out.data() + 2, payload_type_image, 2);
    at = put(at, image.timestamp, 8);
    for (std::uint32_t value :
         {image.pixel_format, image.width, image.height, image.x_offset, image.y_offset})
        at = put(at, value, 4);
    return out;
}

std::array<std::uint8_t, 8> trailer_body(std::uint32_t height) {
    std::array<std::uint8_t, 8> out{};
    put(put(out.data() + 2, payload_type_image, 2), height, 4);
    return out;
}

} // namespace gige
