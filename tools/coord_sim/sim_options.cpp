#include "tools/coord_sim/sim_options.h"

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <limits>
#include <map>
#include <stdexcept>

const char* const sim_usage =
    R"(usage: tresvik-coord-sim [options]
A coordinate server for tests: answers each 64-byte request with a 1024-byte reply.
  --address A        listen address (default 127.0.0.1)
  --port N           listen port, 0 for any free one (default 12500)
  --mode M           numbered or named sessions (default numbered)
  --session-start N  number of the first session (default 1)
  --text-a T         session text A, at most 32 bytes (default CX1)
  --names a,b,...    names of the named sessions, in turn (default session-<number>)
  --change-every S   start a new session every S seconds (default never; SIGUSR1 always does)
  --orientation N    orientation field (default 0)
  --reply-delay MS   wait before each reply (default 0)
  --drop-every N     close the connection instead of answering every Nth request
  --short-every N    send only part of every Nth reply, then close the connection
  --split-replies    send each reply in three pieces with pauses between them
  --garbage          fill the bytes a client must ignore with random values
  --help             this text
SIGINT or SIGTERM end the server.
)";

namespace {
long long number_of(const std::string& option, const std::string& text, long long low,
                    long long high) {
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno == ERANGE || value < low || value > high)
        throw std::invalid_argument(option + ": not a number from " + std::to_string(low) + " to " +
                                    std::to_string(high) + ": " + text);
    return value;
}

double seconds_of(const std::string& option, const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(value >= 0) || value > 86400)
        throw std::invalid_argument(option + ": not a number of seconds: " + text);
    return value;
}

std::vector<std::string> split_names(const std::string& text) {
    std::vector<std::string> names;
    std::string::size_type from = 0;
    for (std::string::size_type comma; (comma = text.find(',', from)) != std::string::npos;
         from = comma + 1)
        names.push_back(text.substr(from, comma - from));
    names.push_back(text.substr(from));
    for (const std::string& name : names)
        if (name.size() > 411)
            throw std::invalid_argument("--names: a name longer than 411 bytes");
    return names;
}

using setter = std::function<void(sim_options&, const std::string&, const std::string&)>;

const std::map<std::string, setter>& valued_options() {
    static const std::map<std::string, setter> table = {
        {"--address", [](sim_options& o, auto&, auto& v) { o.address = v; }},
        {"--port", [](sim_options& o, auto& n, auto& v) { o.port = number_of(n, v, 0, 65535); }},
        {"--mode",
         [](sim_options& o, auto& n, auto& v) {
             if (v != "numbered" && v != "named")
                 throw std::invalid_argument(n + ": numbered or named, not " + v);
             o.numbered = v == "numbered";
         }},
        {"--session-start", [](sim_options& o, auto& n,
                               auto& v) { o.session_start = number_of(n, v, 0, 4294967295); }},
        {"--text-a",
         [](sim_options& o, auto& n, auto& v) {
             if (v.size() > 32)
                 throw std::invalid_argument(n + ": longer than 32 bytes");
             o.text_a = v;
         }},
        {"--names", [](sim_options& o, auto&, auto& v) { o.names = split_names(v); }},
        {"--change-every",
         [](sim_options& o, auto& n, auto& v) { o.change_every = seconds_of(n, v); }},
        {"--orientation",
         [](sim_options& o, auto& n, auto& v) {
             o.orientation = number_of(n, v, std::numeric_limits<std::int32_t>::min(),
                                       std::numeric_limits<std::int32_t>::max());
         }},
        {"--reply-delay",
         [](sim_options& o, auto& n, auto& v) { o.reply_delay_ms = number_of(n, v, 0, 600000); }},
        {"--drop-every",
         [](sim_options& o, auto& n, auto& v) { o.drop_every = number_of(n, v, 0, 1000000000); }},
        {"--short-every",
         [](sim_options& o, auto& n, auto& v) { o.short_every = number_of(n, v, 0, 1000000000); }},
    };
    return table;
}
} // namespace

sim_options parse_sim_options(const std::vector<std::string>& arguments) {
    sim_options options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& name = arguments[i];
        if (name == "--split-replies")
            options.split_replies = true;
        else if (name == "--garbage")
            options.garbage = true;
        else if (name == "--help")
            options.help = true;
        else if (const auto found = valued_options().find(name); found == valued_options().end())
            throw std::invalid_argument("unknown option: " + name);
        else if (i + 1 == arguments.size())
            throw std::invalid_argument(name + ": value missing");
        else
            found->second(options, name, arguments[++i]);
    }
    return options;
}
