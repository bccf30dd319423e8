#pragma once

// The coordinate server's records and what the recorder makes of each reply. Pure values: no
// sockets, no toolkit. The write thread owns the socket, the state below and the session database,
// and calls these on its own thread; the simulator and the tests use the same encoder.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

inline constexpr std::size_t coord_request_size = 64;
inline constexpr std::size_t coord_reply_size = 1024;

using coord_request_bytes = std::array<unsigned char, coord_request_size>;
using coord_reply_bytes = std::array<unsigned char, coord_reply_size>;

// The request, the same bytes on every poll. The caller keeps its copy alive while it is sent.
coord_request_bytes coord_request();

// The fields of a reply that the recorder reads; every other byte of the reply is ignored.
struct coord_reply {
    std::int32_t orientation = 0;
    // Non-zero selects numbered sessions, zero named sessions (session_name is text B).
    std::int64_t mode = 0;
    std::uint32_t session_number = 0;
    // Text A: at most 32 bytes; text B: at most 411 bytes. Narrow bytes exactly as the server
    // sent them (no encoding is implied), cut at the first NUL.
    std::string text_a;
    std::string text_b;

    bool numbered() const { return mode != 0; }
};

// Reads a complete reply. A text with no NUL runs to the end of its field and never beyond.
coord_reply parse_coord_reply(const coord_reply_bytes& bytes);

// Writes the fields over a copy of background (zero by default), each text followed by a NUL
// unless it fills its field; bytes after that NUL keep the background. Throws
// std::invalid_argument if a text is longer than its field or holds a NUL.
coord_reply_bytes encode_coord_reply(const coord_reply& reply,
                                     const coord_reply_bytes& background = {});

// "A : B", the value of the session database's "session" key.
std::string session_code(const coord_reply& reply);

// The orientation as signed decimal, the value of the "orientation" key.
std::string orientation_text(const coord_reply& reply);

// What the client has learnt from earlier replies of this run; a fresh value at the start of a
// run. Numbered replies touch only session_number, named replies only session_name.
struct coord_session_state {
    std::uint32_t session_number = 0;
    std::string session_name;
};

// Values for the open session database, written in this order: "session", "orientation", "side".
struct coord_metadata {
    std::string session_code;
    std::string orientation;
    std::string side;
};

// What to do after one reply, in this order: close the current session database (even when none
// is open: closing also clears the frames-written count), post the information row, write the
// metadata. A new session never writes metadata in the same step; the next reply does, once the
// next odometer value has opened a database.
struct coord_action {
    bool close_session = false;
    std::optional<std::string> new_session_row;
    std::optional<coord_metadata> metadata;
};

// Decides what one complete reply means and updates state. session_open says whether a session
// database is open now; side is the recorder's side setting, copied into the metadata.
coord_action evaluate_coord_reply(coord_session_state& state, const coord_reply& reply,
                                  bool session_open, const std::string& side);
