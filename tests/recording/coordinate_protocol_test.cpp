#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "recording/coordinate_protocol.h"

namespace {
// Offsets and widths are written out here, not taken from the code under test, so a wrong
// constant there shows up as a failure.
void put_bytes(coord_reply_bytes& bytes, std::size_t at, std::uint64_t value, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i, value >>= 8)
        bytes[at + i] = static_cast<unsigned char>(value & 0xff);
}

void put_string(coord_reply_bytes& bytes, std::size_t at, const std::string& text) {
    std::copy(text.begin(), text.end(), bytes.begin() + at);
}

coord_reply_bytes filled(unsigned char value) {
    coord_reply_bytes bytes;
    bytes.fill(value);
    return bytes;
}

coord_reply numbered(std::uint32_t number, std::string a = "CX", std::string b = "7") {
    coord_reply reply;
    reply.mode = 1;
    reply.session_number = number;
    reply.orientation = 90;
    reply.text_a = std::move(a);
    reply.text_b = std::move(b);
    return reply;
}

coord_reply named(std::string a, std::string b, std::uint32_t number = 0) {
    coord_reply reply;
    reply.mode = 0;
    reply.session_number = number;
    reply.orientation = -90;
    reply.text_a = std::move(a);
    reply.text_b = std::move(b);
    return reply;
}
} // namespace

TEST(coordinate_protocol, request_is_the_fixed_64_bytes) {
    std::vector<unsigned char> expected = {'C', 'X', 'Q', 'U', 'E', 'S', 'T', '2', 0, 0,
                                           0,   0,   0,   0,   0,   0,   1,   0,   0, 0};
    expected.resize(64, 0);
    const coord_request_bytes request = coord_request();
    EXPECT_EQ(std::vector<unsigned char>(request.begin(), request.end()), expected);
}

struct field_case {
    const char* name;
    std::size_t offset;
    std::size_t size;
    std::uint64_t raw;
    coord_reply expected;
};

TEST(coordinate_protocol, reply_fields_are_read_little_endian_at_their_offsets) {
    coord_reply orientation;
    orientation.orientation = 0x11223344;
    coord_reply mode;
    mode.mode = 0x0102030405060708;
    coord_reply number;
    number.session_number = 0xA1B2C3D4;
    const std::vector<field_case> cases = {
        {"orientation", 301, 4, 0x11223344, orientation},
        {"mode", 433, 8, 0x0102030405060708, mode},
        {"session number", 441, 4, 0xA1B2C3D4, number},
    };
    for (const field_case& c : cases) {
        SCOPED_TRACE(c.name);
        coord_reply_bytes bytes{};
        put_bytes(bytes, c.offset, c.raw, c.size);
        const coord_reply reply = parse_coord_reply(bytes);
        EXPECT_EQ(reply.orientation, c.expected.orientation);
        EXPECT_EQ(reply.mode, c.expected.mode);
        EXPECT_EQ(reply.session_number, c.expected.session_number);
        EXPECT_EQ(reply.text_a, "");
        EXPECT_EQ(reply.text_b, "");
    }
}

TEST(coordinate_protocol, reply_texts_are_read_up_to_their_nul) {
    coord_reply_bytes bytes = filled('x');
    put_string(bytes, 581, std::string("Moscow", 7));
    put_string(bytes, 613, std::string("Line 12", 8));
    const coord_reply reply = parse_coord_reply(bytes);
    EXPECT_EQ(reply.text_a, "Moscow");
    EXPECT_EQ(reply.text_b, "Line 12");
}

TEST(coordinate_protocol, reply_texts_without_nul_stop_at_their_field_end) {
    coord_reply_bytes bytes{};
    put_string(bytes, 581, std::string(32, 'a'));
    put_string(bytes, 613, std::string(411, 'b'));
    const coord_reply reply = parse_coord_reply(bytes);
    EXPECT_EQ(reply.text_a, std::string(32, 'a'));
    EXPECT_EQ(reply.text_b, std::string(411, 'b'));
}

TEST(coordinate_protocol, reply_bytes_outside_the_fields_are_ignored) {
    const coord_reply expected = numbered(42, "A", "B");
    const coord_reply reply = parse_coord_reply(encode_coord_reply(expected, filled(0xEE)));
    EXPECT_EQ(reply.orientation, expected.orientation);
    EXPECT_EQ(reply.mode, expected.mode);
    EXPECT_EQ(reply.session_number, expected.session_number);
    EXPECT_EQ(reply.text_a, "A");
    EXPECT_EQ(reply.text_b, "B");
}

TEST(coordinate_protocol, negative_numbers_survive_the_round_trip) {
    coord_reply expected = named("A", "B");
    expected.orientation = -1;
    expected.mode = -5;
    const coord_reply reply = parse_coord_reply(encode_coord_reply(expected));
    EXPECT_EQ(reply.orientation, -1);
    EXPECT_EQ(reply.mode, -5);
    EXPECT_TRUE(reply.numbered());
}

TEST(coordinate_protocol, encoder_writes_the_fields_at_their_offsets) {
    coord_reply reply = numbered(0x01020304, std::string(32, 'a'), "bc");
    reply.orientation = -2;
    const coord_reply_bytes bytes = encode_coord_reply(reply, filled(0x55));
    EXPECT_EQ(bytes[300], 0x55);
    EXPECT_EQ(bytes[301], 0xFE);
    EXPECT_EQ(bytes[304], 0xFF);
    EXPECT_EQ(bytes[433], 1);
    EXPECT_EQ(bytes[440], 0);
    EXPECT_EQ(bytes[441], 0x04);
    EXPECT_EQ(bytes[444], 0x01);
    EXPECT_EQ(bytes[445], 0x55);
    EXPECT_EQ(bytes[581], 'a');
    EXPECT_EQ(bytes[612], 'a');
    EXPECT_EQ(bytes[613], 'b');
    EXPECT_EQ(bytes[615], 0);
    EXPECT_EQ(bytes[616], 0x55);
}

TEST(coordinate_protocol, encoder_refuses_texts_that_do_not_fit) {
    EXPECT_THROW(encode_coord_reply(named(std::string(33, 'a'), "")), std::invalid_argument);
    EXPECT_THROW(encode_coord_reply(named("a", std::string(412, 'b'))), std::invalid_argument);
    EXPECT_THROW(encode_coord_reply(named(std::string("a\0b", 3), "")), std::invalid_argument);
}

TEST(coordinate_protocol, session_code_joins_the_texts_with_a_colon) {
    EXPECT_EQ(session_code(named("CX1", "Line 12")), "CX1 : Line 12");
    EXPECT_EQ(session_code(named("CX1", "")), "CX1 : ");
}

TEST(coordinate_protocol, orientation_is_signed_decimal_text) {
    coord_reply reply;
    for (auto [value, text] : std::vector<std::pair<std::int32_t, std::string>>{
             {-1, "-1"}, {0, "0"}, {180, "180"}, {-2147483647 - 1, "-2147483648"}}) {
        reply.orientation = value;
        EXPECT_EQ(orientation_text(reply), text);
    }
}

TEST(coordinate_evaluation, numbered_zero_at_start_is_the_known_session) {
    coord_session_state state;
    const coord_action closed = evaluate_coord_reply(state, numbered(0), false, "left");
    EXPECT_FALSE(closed.close_session);
    EXPECT_FALSE(closed.new_session_row);
    EXPECT_FALSE(closed.metadata);
    const coord_action open = evaluate_coord_reply(state, numbered(0, "CX", "0"), true, "left");
    EXPECT_FALSE(open.close_session);
    EXPECT_FALSE(open.new_session_row);
    ASSERT_TRUE(open.metadata);
    EXPECT_EQ(open.metadata->session_code, "CX : 0");
    EXPECT_EQ(open.metadata->orientation, "90");
    EXPECT_EQ(open.metadata->side, "left");
}

TEST(coordinate_evaluation, numbered_first_number_posts_new_session_without_closing) {
    coord_session_state state;
    const coord_action action = evaluate_coord_reply(state, numbered(7, "CX", "7"), true, "left");
    EXPECT_FALSE(action.close_session);
    EXPECT_EQ(action.new_session_row, "New session started (id: CX : 7)");
    EXPECT_FALSE(action.metadata);
    EXPECT_EQ(state.session_number, 7u);
}

TEST(coordinate_evaluation, numbered_same_number_writes_metadata_only_while_open) {
    coord_session_state state{7, ""};
    EXPECT_FALSE(evaluate_coord_reply(state, numbered(7), false, "left").metadata);
    const coord_action action = evaluate_coord_reply(state, numbered(7), true, "right");
    EXPECT_FALSE(action.close_session);
    EXPECT_FALSE(action.new_session_row);
    ASSERT_TRUE(action.metadata);
    EXPECT_EQ(action.metadata->side, "right");
}

TEST(coordinate_evaluation, numbered_change_closes_and_writes_nothing) {
    coord_session_state state{7, ""};
    const coord_action action = evaluate_coord_reply(state, numbered(8, "CX", "8"), true, "left");
    EXPECT_TRUE(action.close_session);
    EXPECT_EQ(action.new_session_row, "New session started (id: CX : 8)");
    EXPECT_FALSE(action.metadata);
    EXPECT_EQ(state.session_number, 8u);
}

TEST(coordinate_evaluation, numbered_change_while_no_session_is_open_still_closes) {
    coord_session_state state{7, ""};
    const coord_action action = evaluate_coord_reply(state, numbered(8), false, "left");
    EXPECT_TRUE(action.close_session);
    EXPECT_TRUE(action.new_session_row);
}

TEST(coordinate_evaluation, numbered_change_back_to_zero_closes) {
    coord_session_state state{7, ""};
    const coord_action action = evaluate_coord_reply(state, numbered(0), true, "left");
    EXPECT_TRUE(action.close_session);
    EXPECT_TRUE(action.new_session_row);
    EXPECT_EQ(state.session_number, 0u);
}

TEST(coordinate_evaluation, numbered_mode_leaves_the_session_name_alone) {
    coord_session_state state{0, "Line 12"};
    evaluate_coord_reply(state, numbered(3, "CX", "other"), true, "left");
    EXPECT_EQ(state.session_name, "Line 12");
}

TEST(coordinate_evaluation, named_empty_text_a_is_ignored) {
    coord_session_state state{5, "Line 12"};
    for (bool open : {false, true}) {
        const coord_action action = evaluate_coord_reply(state, named("", "Line 13"), open, "left");
        EXPECT_FALSE(action.close_session);
        EXPECT_FALSE(action.new_session_row);
        EXPECT_FALSE(action.metadata);
    }
    EXPECT_EQ(state.session_name, "Line 12");
    EXPECT_EQ(state.session_number, 5u);
}

TEST(coordinate_evaluation, named_empty_name_at_start_is_the_known_session) {
    coord_session_state state;
    const coord_action action = evaluate_coord_reply(state, named("CX", ""), true, "left");
    EXPECT_FALSE(action.close_session);
    EXPECT_FALSE(action.new_session_row);
    ASSERT_TRUE(action.metadata);
    EXPECT_EQ(action.metadata->session_code, "CX : ");
    EXPECT_EQ(action.metadata->orientation, "-90");
}

TEST(coordinate_evaluation, named_first_name_posts_new_session_without_closing) {
    coord_session_state state;
    const coord_action action = evaluate_coord_reply(state, named("CX", "Line 12"), true, "left");
    EXPECT_FALSE(action.close_session);
    EXPECT_EQ(action.new_session_row, "New session started (id: CX : Line 12)");
    EXPECT_FALSE(action.metadata);
    EXPECT_EQ(state.session_name, "Line 12");
}

TEST(coordinate_evaluation, named_change_closes_even_when_only_the_length_differs) {
    for (const char* next : {"Line 1", "Line 123", "Line 13"}) {
        SCOPED_TRACE(next);
        coord_session_state state{0, "Line 12"};
        const coord_action action = evaluate_coord_reply(state, named("CX", next), false, "left");
        EXPECT_TRUE(action.close_session);
        EXPECT_TRUE(action.new_session_row);
        EXPECT_FALSE(action.metadata);
        EXPECT_EQ(state.session_name, next);
    }
}

TEST(coordinate_evaluation, named_same_name_writes_metadata_only_while_open) {
    coord_session_state state{0, "Line 12"};
    EXPECT_FALSE(evaluate_coord_reply(state, named("CX", "Line 12"), false, "left").metadata);
    const coord_action action = evaluate_coord_reply(state, named("CX", "Line 12"), true, "left");
    EXPECT_FALSE(action.close_session);
    ASSERT_TRUE(action.metadata);
    EXPECT_EQ(action.metadata->session_code, "CX : Line 12");
}

TEST(coordinate_evaluation, named_mode_leaves_the_session_number_alone) {
    coord_session_state state{5, ""};
    evaluate_coord_reply(state, named("CX", "Line 12", 9), true, "left");
    EXPECT_EQ(state.session_number, 5u);
}
