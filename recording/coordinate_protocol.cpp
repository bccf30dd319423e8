#include "recording/coordinate_protocol.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <type_traits>

namespace {
constexpr std::size_t orientation_offset = 301;
constexpr std::size_t mode_offset = 433;
constexpr std::size_t session_number_offset = 441;
constexpr std::size_t text_a_offset = 581;
constexpr std::size_t text_a_size = 32;
constexpr std::size_t text_b_offset = 613;
constexpr std::size_t text_b_size = 411;

static_assert(text_b_offset + text_b_size == coord_reply_size);

// Little-endian regardless of the host, so the records match the server on any machine.
template <typename T, std::size_t N>
void put_le(std::array<unsigned char, N>& bytes, std::size_t at, T value) {
    auto bits = static_cast<std::uint64_t>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i, bits >>= 8)
        bytes[at + i] = static_cast<unsigned char>(bits & 0xff);
}

template <typename T> T get_le(const coord_reply_bytes& bytes, std::size_t at) {
    std::uint64_t bits = 0;
    for (std::size_t i = sizeof(T); i-- > 0;)
        bits = bits << 8 | bytes[at + i];
    return static_cast<T>(static_cast<std::make_unsigned_t<T>>(bits));
}

std::string get_text(const coord_reply_bytes& bytes, std::size_t at, std::size_t size) {
    const auto first = bytes.begin() + at;
    const auto last = std::find(first, first + size, 0);
    return std::string(first, last);
}

void put_text(coord_reply_bytes& bytes, std::size_t at, std::size_t size, const std::string& text) {
    if (text.size() > size)
        throw std::invalid_argument("coordinate reply text longer than its field");
    if (text.find('\0') != std::string::npos)
        throw std::invalid_argument("coordinate reply text holds a NUL");
    std::copy(text.begin(), text.end(), bytes.begin() + at);
    if (text.size() < size)
        bytes[at + text.size()] = 0;
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
    put_le<std::uint32_t>(bytes, 8, 0);
    std::uint32_t float_bits;
    const float zero = 0.0f;
    std::memcpy(&float_bits, &zero, sizeof float_bits);
    put_le<std::uint32_t>(bytes, 12, float_bits);
    put_le<std::int32_t>(bytes, 16, 1);
    return bytes;
}

coord_reply parse_coord_reply(const coord_reply_bytes& bytes) {
    coord_reply reply;
    reply.orientation = get_le<std::int32_t>(bytes, orientation_offset);
    reply.mode = get_le<std::int64_t>(bytes, mode_offset);
    reply.session_number = get_le<std::uint32_t>(bytes, session_number_offset);
    reply.text_a = get_text(bytes, text_a_offset, text_a_size);
    reply.text_b = get_text(bytes, text_b_offset, text_b_size);
    return reply;
}

coord_reply_bytes encode_coord_reply(const coord_reply& reply,
                                     const coord_reply_bytes& background) {
    coord_reply_bytes bytes = background;
    put_le(bytes, orientation_offset, reply.orientation);
    put_le(bytes, mode_offset, reply.mode);
    put_le(bytes, session_number_offset, reply.session_number);
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
