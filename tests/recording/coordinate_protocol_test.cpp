#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "recording/coordinate_protocol.h"

namespace {
coord_reply reply_of(std::int64_t mode, std::uint32_t number, std::string a, std::string b) {
    coord_reply reply;
    reply.mode = mode;
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

// Offsets are written out here, not taken from the code under test; bytes outside the fields
// (filled with 0x55) are ignored.
TEST(coordinate_protocol, reply_fields_sit_little_endian_at_their_offsets) {
    coord_reply_bytes background;
    background.fill(0x55);
    const coord_reply_bytes bytes =
        encode_coord_reply(reply_of(-5, 0x01020304, std::string(32, 'a'), "bc"), background);
    const std::pair<std::size_t, unsigned char> expected[] = {
        {300, 0x55}, {301, 0xA6}, {304, 0xFF}, {433, 0xFB}, {440, 0xFF}, {441, 0x04}, {444, 0x01},
        {445, 0x55}, {581, 'a'},  {612, 'a'},  {613, 'b'},  {615, 0},    {616, 0x55}};
    for (const auto& [offset, value] : expected)
        EXPECT_EQ(bytes[offset], value) << offset;
    const coord_reply back = parse_coord_reply(bytes);
    EXPECT_EQ(back.orientation, -90);
    EXPECT_EQ(back.mode, -5);
    EXPECT_TRUE(back.numbered());
    EXPECT_EQ(back.session_number, 0x01020304u);
    EXPECT_EQ(back.text_a, std::string(32, 'a')) << "a text without NUL ends with its field";
    EXPECT_EQ(back.text_b, "bc");
}

TEST(coordinate_protocol, texts_that_do_not_fit_are_refused_and_the_derived_texts_are_formatted) {
    EXPECT_THROW(encode_coord_reply(reply_of(0, 0, std::string(33, 'a'), "")),
                 std::invalid_argument);
    EXPECT_THROW(encode_coord_reply(reply_of(0, 0, "a", std::string(412, 'b'))),
                 std::invalid_argument);
    EXPECT_THROW(encode_coord_reply(reply_of(0, 0, std::string("a\0b", 3), "")),
                 std::invalid_argument);
    EXPECT_EQ(session_code(reply_of(0, 0, "CX1", "")), "CX1 : ");
    coord_reply reply;
    reply.orientation = -2147483647 - 1;
    EXPECT_EQ(orientation_text(reply), "-2147483648");
}

// Each row: the state known before, the reply, whether a session is open; then what the recorder
// must do and what it knows afterwards.
TEST(coordinate_evaluation, replies_close_announce_and_name_sessions) {
    const struct {
        const char* what;
        coord_session_state before;
        coord_reply reply;
        bool open;
        bool close;
        std::string row;      // empty: none
        std::string metadata; // session code written, empty: nothing written
        coord_session_state after;
    } cases[] = {
        {"numbered 0 at start is the known session",
         {},
         reply_of(1, 0, "CX", "0"),
         true,
         false,
         "",
         "CX : 0",
         {0, ""}},
        {"nothing is written while closed",
         {},
         reply_of(1, 0, "CX", "0"),
         false,
         false,
         "",
         "",
         {0, ""}},
        {"first number announced, nothing closed",
         {},
         reply_of(1, 7, "CX", "7"),
         true,
         false,
         "New session started (id: CX : 7)",
         "",
         {7, ""}},
        {"same number names the open session",
         {7, "n"},
         reply_of(1, 7, "CX", "7"),
         true,
         false,
         "",
         "CX : 7",
         {7, "n"}},
        {"a new number closes",
         {7, ""},
         reply_of(1, 8, "CX", "8"),
         true,
         true,
         "New session started (id: CX : 8)",
         "",
         {8, ""}},
        {"a new number closes with nothing open",
         {7, ""},
         reply_of(1, 8, "CX", "8"),
         false,
         true,
         "New session started (id: CX : 8)",
         "",
         {8, ""}},
        {"back to 0 closes",
         {7, ""},
         reply_of(1, 0, "CX", "0"),
         true,
         true,
         "New session started (id: CX : 0)",
         "",
         {0, ""}},
        {"named: empty A is ignored",
         {5, "L12"},
         reply_of(0, 9, "", "L13"),
         true,
         false,
         "",
         "",
         {5, "L12"}},
        {"named: empty name at start is known",
         {},
         reply_of(0, 0, "CX", ""),
         true,
         false,
         "",
         "CX : ",
         {0, ""}},
        {"named: first name announced",
         {5, ""},
         reply_of(0, 9, "CX", "L12"),
         true,
         false,
         "New session started (id: CX : L12)",
         "",
         {5, "L12"}},
        {"named: a name differing in length closes",
         {0, "L12"},
         reply_of(0, 0, "CX", "L1"),
         false,
         true,
         "New session started (id: CX : L1)",
         "",
         {0, "L1"}},
        {"named: same name names the open session",
         {0, "L12"},
         reply_of(0, 0, "CX", "L12"),
         true,
         false,
         "",
         "CX : L12",
         {0, "L12"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        coord_session_state state = c.before;
        const coord_action action = evaluate_coord_reply(state, c.reply, c.open, "правый");
        EXPECT_EQ(action.close_session, c.close);
        EXPECT_EQ(action.new_session_row.value_or(""), c.row);
        EXPECT_EQ(action.metadata ? action.metadata->session_code : "", c.metadata);
        if (action.metadata) {
            EXPECT_EQ(action.metadata->orientation, "-90");
            EXPECT_EQ(action.metadata->side, "правый");
        }
        EXPECT_EQ(state.session_number, c.after.session_number);
        EXPECT_EQ(state.session_name, c.after.session_name);
    }
}
