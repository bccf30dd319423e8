#include "recording/coordinate_protocol.h"

#include <cstring>
#include <stdexcept>

#include "base/encoding.h"

namespace {
constexpr std::size_t orientation_offset = 301;
constexpr std::size_t mode_offset = 433;
constexpr std::size_t session_number_offset = 441;
constexpr std::size_t text_a_offset = 581;
constexpr std::size_t text_a_size = 32;
constexpr std::size_t text_b_offset = 613;
constexpr std::size_t text_b_size = 411;

static_assert(text_b_offset + text_b_size == coord_reply_size);

void put_text(coord_reply_bytes& bytes, std::size_t at, std::size_t size, const std::string& text) {
    if (text.size() > size)
        throw std::invalid_argument("coordinate reply text longer than its field");
    if (text.find('\0') != std::string::npos)
        throw std::invalid_argument("coordinate reply text holds a NUL");
    write_padded_text(bytes.data() + at, size, text);
}

coord_metadata metadata_of(const coord_reply& reply, const std::string& side) {
    return {session_code(reply), orientation_text(reply), side};
}

std::string new_session_row(const coord_reply& reply) {
    return "New session started (id: " + session_code(reply) + ")";
}

coord_action evaluate_numbered(coord_session_state& state, const coord_reply& reply,
                               bool session_open, const std::string& side) {
    coord_action action;
    if (reply.session_number != state.session_number) {
        // 0 is the start-of-run value: the first number closes nothing, none was known yet.
        action.close_session = state.session_number != 0;
        action.new_session_row = new_session_row(reply);
        state.session_number = reply.session_number;
    } else if (session_open) {
        action.metadata = metadata_of(reply, side);
    }
    return action;
}

coord_action evaluate_named(coord_session_state& state, const coord_reply& reply, bool session_open,
                            const std::string& side) {
    coord_action action;
    if (reply.text_a.empty())
        return action;
    if (reply.text_b != state.session_name) {
        // Empty is the start-of-run value: the first name closes nothing, none was known yet.
        action.close_session = !state.session_name.empty();
        action.new_session_row = new_session_row(reply);
        state.session_name = reply.text_b;
    } else if (session_open) {
        action.metadata = metadata_of(reply, side);
    }
    return action;
}
} // namespace

coord_request_bytes coord_request() {
    coord_request_bytes bytes{};
    std::memcpy(bytes.data(), "CXQUEST2", 8);
    write_little_endian<std::uint32_t>(bytes.data() + 8, 0);
    std::uint32_t float_bits;
    const float zero = 0.0f;
    std::memcpy(&float_bits, &zero, sizeof float_bits);
    write_little_endian<std::uint32_t>(bytes.data() + 12, float_bits);
    write_little_endian<std::int32_t>(bytes.data() + 16, 1);
    return bytes;
}

coord_reply parse_coord_reply(const coord_reply_bytes& bytes) {
    coord_reply reply;
    reply.orientation = read_little_endian<std::int32_t>(bytes.data() + orientation_offset);
    reply.mode = read_little_endian<std::int64_t>(bytes.data() + mode_offset);
    reply.session_number = read_little_endian<std::uint32_t>(bytes.data() + session_number_offset);
    reply.text_a = read_padded_text(bytes.data() + text_a_offset, text_a_size);
    reply.text_b = read_padded_text(bytes.data() + text_b_offset, text_b_size);
    return reply;
}

coord_reply_bytes encode_coord_reply(const coord_reply& reply,
                                     const coord_reply_bytes& background) {
    coord_reply_bytes bytes = background;
    write_little_endian(bytes.data() + orientation_offset, reply.orientation);
    write_little_endian(bytes.data() + mode_offset, reply.mode);
    write_little_endian(bytes.data() + session_number_offset, reply.session_number);
    put_text(bytes, text_a_offset, text_a_size, reply.text_a);
    put_text(bytes, text_b_offset, text_b_size, reply.text_b);
    return bytes;
}

std::string session_code(const coord_reply& reply) {
    return reply.text_a + " : " + reply.text_b;
}

std::string orientation_text(const coord_reply& reply) {
    return std::to_string(reply.orientation);
}

coord_action evaluate_coord_reply(coord_session_state& state, const coord_reply& reply,
                                  bool session_open, const std::string& side) {
    return reply.numbered() ? evaluate_numbered(state, reply, session_open, side)
                            : evaluate_named(state, reply, session_open, side);
}
