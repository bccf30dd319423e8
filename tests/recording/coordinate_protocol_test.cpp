#include <cstdint>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "recording/coordinate_protocol.h"

// Offsets are written out here, not taken from the code under test (the simulator shares it);
// bytes outside the fields (filled with 0x55) are ignored. A text without NUL ends with its field.
TEST(coordinate_protocol, the_fixed_request_and_reply_fields_little_endian_at_their_offsets) {
    coord_request_bytes request{'C', 'X', 'Q', 'U', 'E', 'S', 'T', '2'};
    request[16] = 1;
    EXPECT_EQ(coord_request(), request);
    coord_reply_bytes background;
    background.fill(0x55);
    const coord_reply_bytes bytes =
        encode_coord_reply({-90, -5, 0x01020304, std::string(32, 'a'), "bc"}, background);
    const std::pair<std::size_t, unsigned char> expected[] = {
        {300, 0x55}, {301, 0xA6}, {304, 0xFF}, {433, 0xFB}, {440, 0xFF}, {441, 0x04}, {444, 0x01},
        {445, 0x55}, {581, 'a'},  {612, 'a'},  {613, 'b'},  {615, 0},    {616, 0x55}};
    for (const auto& [offset, value] : expected)
        EXPECT_EQ(bytes[offset], value) << offset;
    const coord_reply back = parse_coord_reply(bytes);
    EXPECT_EQ(std::make_tuple(back.orientation, back.mode, back.numbered(), back.session_number,
                              back.text_a, back.text_b),
              std::make_tuple(-90, -5, true, 0x01020304u, std::string(32, 'a'), "bc"));
    for (const coord_reply& too_long : {coord_reply{0, 0, 0, std::string(33, 'a'), ""},
                                        coord_reply{0, 0, 0, "a", std::string(412, 'b')},
                                        coord_reply{0, 0, 0, std::string("a\0b", 3), ""}})
        EXPECT_THROW(encode_coord_reply(too_long), std::invalid_argument);
    EXPECT_EQ(orientation_text({-2147483647 - 1, 0, 0, "", ""}), "-2147483648");
}

// Each row: the state known before, the reply, whether a session is open; then whether the
// session is closed, the code of the new session announced, the code written into the open
// session ("" for none) and what is known afterwards.
TEST(coordinate_evaluation, replies_close_announce_and_name_sessions) {
    const auto numbered = [](std::uint32_t n) {
        return coord_reply{-90, 1, n, "CX", std::to_string(n)};
    };
    const auto named = [](const std::string& b, const std::string& a = "CX") {
        return coord_reply{-90, 0, 9, a, b};
    };
    const struct {
        coord_session_state before;
        coord_reply reply;
        bool open, close;
        std::string announced, written;
        coord_session_state after;
    } cases[] = {
        {{}, numbered(0), true, false, "", "CX : 0", {0, ""}}, // 0 at the start is known
        {{}, numbered(0), false, false, "", "", {0, ""}},
        {{}, numbered(7), true, false, "CX : 7", "", {7, ""}}, // the first number closes nothing
        {{7, "n"}, numbered(7), true, false, "", "CX : 7", {7, "n"}},
        {{7, ""}, numbered(8), true, true, "CX : 8", "", {8, ""}},
        {{7, ""}, numbered(8), false, true, "CX : 8", "", {8, ""}},
        {{7, ""}, numbered(0), true, true, "CX : 0", "", {0, ""}},
        {{5, "L12"}, named("L13", ""), true, false, "", "", {5, "L12"}}, // no text A: ignored
        {{}, named(""), true, false, "", "CX : ", {0, ""}},
        {{5, ""}, named("L12"), true, false, "CX : L12", "", {5, "L12"}},
        {{0, "L12"}, named("L1"), false, true, "CX : L1", "", {0, "L1"}},
        {{0, "L12"}, named("L12"), true, false, "", "CX : L12", {0, "L12"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(session_code(c.reply) + (c.open ? ", open" : ", closed"));
        coord_session_state state = c.before;
        const coord_action action = evaluate_coord_reply(state, c.reply, c.open, "правый");
        EXPECT_EQ(action.close_session, c.close);
        EXPECT_EQ(action.new_session_row.value_or("none"),
                  c.announced.empty() ? "none" : "New session started (id: " + c.announced + ")");
        const coord_metadata none{"", "-90", "правый"}, m = action.metadata.value_or(none);
        EXPECT_EQ(std::tie(m.session_code, m.orientation, m.side),
                  std::tie(c.written, none.orientation, none.side));
        EXPECT_EQ(std::tie(state.session_number, state.session_name),
                  std::tie(c.after.session_number, c.after.session_name));
    }
}
