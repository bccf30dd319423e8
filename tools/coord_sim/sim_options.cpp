#include "tools/coord_sim/sim_options.h"

#include <limits>

#include "tools/common/command_line.h"

namespace {
std::vector<std::string> split_names(const std::string& text) {
    std::vector<std::string> names;
    std::string::size_type from = 0;
    for (std::string::size_type comma; (comma = text.find(',', from)) != std::string::npos;
         from = comma + 1)
        names.push_back(text.substr(from, comma - from));
    names.push_back(text.substr(from));
    for (const std::string& name : names)
        if (name.size() > 411)
            throw CLI::ValidationError("--names", "a name longer than 411 bytes");
    return names;
}
} // namespace

void add_sim_options(CLI::App& app, sim_options& options) {
    app.add_option("--address", options.address, "listen address")
        ->type_name("A")
        ->capture_default_str();
    add_number(app, "--port", options.port, 0, 65535, "listen port, 0 for any free one");
    add_choice(app, "--mode", options.numbered, {{"numbered", true}, {"named", false}},
               "numbered or named sessions");
    add_number(app, "--session-start", options.session_start, 0, 4294967295.0,
               "number of the first session");
    app.add_option("--text-a", options.text_a, "session text A")
        ->check(byte_length(0, 32))
        ->type_name("T")
        ->capture_default_str();
    app.add_option_function<std::string>(
           "--names", [&options](const std::string& text) { options.names = split_names(text); },
           "names of the named sessions, in turn")
        ->type_name("a,b,...")
        ->default_str("session-<number>");
    add_number(app, "--change-every", options.change_every, 0, 86400,
               "start a new session every S seconds, 0: never (SIGUSR1 always does)")
        ->type_name("S");
    add_number(app, "--orientation", options.orientation, std::numeric_limits<std::int32_t>::min(),
               std::numeric_limits<std::int32_t>::max(), "orientation field");
    add_number(app, "--reply-delay", options.reply_delay_ms, 0, 600000, "wait before each reply")
        ->type_name("MS");
    add_number(app, "--drop-every", options.drop_every, 0, 1e9,
               "close the connection instead of answering every Nth request (0: never)");
    add_number(app, "--short-every", options.short_every, 0, 1e9,
               "send only part of every Nth reply, then close the connection (0: never)");
    add_number(app, "--stall-after", options.stall_after, 0, 1e9,
               "answer N requests on each connection, then read requests and never answer,\n"
               "keeping the connection open (0: never)");
    app.add_flag("--split-replies", options.split_replies,
                 "send each reply in three pieces with pauses between them");
    app.add_flag("--garbage", options.garbage,
                 "fill the bytes a client must ignore with random values");
}
