// Replies of a coordinate server, whatever it sends: every reply reads without fault, its texts
// stay inside their fields, what is read writes back to the same reading, and evaluating a run
// of replies never writes metadata together with a session change.
#include <algorithm>

#include "fuzz/fuzz_check.h"
#include "recording/coordinate_protocol.h"

namespace {
bool same_reading(const coord_reply& a, const coord_reply& b) {
    return a.orientation == b.orientation && a.mode == b.mode &&
           a.session_number == b.session_number && a.text_a == b.text_a && a.text_b == b.text_b;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    coord_session_state state;
    for (std::size_t at = 0; at == 0 || at < size; at += coord_reply_size) {
        coord_reply_bytes bytes{};
        std::copy_n(data + at, std::min(coord_reply_size, size - at), bytes.begin());
        const coord_reply reply = parse_coord_reply(bytes);
        fuzz_require(reply.text_a.size() <= 32 && reply.text_b.size() <= 411,
                     "a text beyond its field");
        fuzz_require(same_reading(parse_coord_reply(encode_coord_reply(reply, bytes)), reply),
                     "a reply written back reads differently");
        const coord_action action =
            evaluate_coord_reply(state, reply, at / coord_reply_size % 2 == 0, "left");
        fuzz_require(!(action.new_session_row && action.metadata),
                     "metadata written in the step that changes the session");
    }
    return 0;
}
