#pragma once

// Command line of tresvik-coord-sim, the stand-in coordinate server used in tests and demos.

#include <cstdint>
#include <string>
#include <vector>

#include "base/constants.h"

namespace CLI {
class App;
}

struct sim_options {
    std::string address = "127.0.0.1";
    // 0 lets the system choose; the listening line names the port taken.
    unsigned short port = default_coordinate_server_port;
    bool numbered = true;
    // The first session's number; named sessions count from it too.
    std::uint32_t session_start = 1;
    std::string text_a = "CX1";
    // Named sessions cycle through these; empty means "session-<count>".
    std::vector<std::string> names;
    // Seconds between automatic session changes; 0 changes only on SIGUSR1.
    double change_every = 0;
    std::int32_t orientation = 0;
    unsigned reply_delay_ms = 0;
    // Every Nth request (counted over all connections) is not answered: the connection is closed.
    unsigned drop_every = 0;
    // Every Nth reply is cut short and the connection closed after the fragment.
    unsigned short_every = 0;
    // Each connection gets this many replies; later requests on it are read and never answered,
    // while the connection stays open (0: every request is answered).
    unsigned stall_after = 0;
    // Each reply goes out in three pieces with pauses between them.
    bool split_replies = false;
    // The bytes a client must ignore carry random values instead of zeros.
    bool garbage = false;
};

// The options, read into options by the app's parse (tools/common/command_line.h).
void add_sim_options(CLI::App& app, sim_options& options);
