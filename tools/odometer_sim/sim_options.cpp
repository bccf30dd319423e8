#include "tools/odometer_sim/sim_options.h"

#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <random>

const char* const usage_text =
    R"(usage: tresvik-odometer-sim (--pty | DEVICE) [options]

Sends odometer packets to a serial line: to DEVICE (opened at 115200 baud, 8 data bits, no parity,
one stop bit, no flow control) or, with --pty, to a new pseudo-terminal pair whose other end is
printed as "odometer on /dev/pts/N". Runs until the profile ends, --duration passes, or SIGINT or
SIGTERM arrives.

options:
  --pty                    make a pty pair instead of opening DEVICE; bytes the reader has not
                           taken wait in the pty (about 4 KB), the rest is dropped
  --link PATH              with --pty: a symbolic link at PATH to the pty's reader end, made
                           anew at start (an earlier link there is replaced) and removed at
                           the end, so a restarted simulator comes back under the same name
  --format a|b|mixed       packet format A (4 bytes, low 24 bits of the count), B (7 bytes with
                           checksum) or both in turn (default a)
  --rate N                 packets per second (default 50)
  --speed N                counts per second at cruise (default 100)
  --profile PHASES         comma-separated phases NAME[:DURATION], DURATION as 5s, 500ms or 5
                           (seconds); a phase without duration lasts until the run ends and may
                           only come last (default "cruise"). Phases:
                             accelerate  speed rises from 0 to --speed
                             cruise      --speed
                             decelerate  speed falls from --speed to 0
                             stop        speed 0: the count repeats
                             reverse     -(--speed): the count falls
                             reset       no duration: the count goes back to --start
                           e.g. "accelerate:5s,cruise:20s,stop:3s,reverse:2s,reset,cruise"
  --loop                   play the profile again after its last phase
  --start COUNT            first count (default 0)
  --duration SECONDS       stop after this time
  --noise-rate P           chance per packet of 1 to 3 random bytes before it (default 0);
                           like noise on a real line, these may form a packet by chance
  --bad-checksum-rate P    chance per packet of a damaged packet (default 0): format B gets a
                           wrong checksum, format A (which has none) a wrong marker in its last
                           byte
  --seed N                 seed of the noise and damage choices (default: from the clock)
  --help                   this text
)";

namespace {
double parse_number(const std::string& name, const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(value))
        throw usage_error("--" + name + " needs a number, not \"" + text + "\"");
    return value;
}

double parse_rate(const std::string& name, const std::string& text, double low, double high) {
    const double value = parse_number(name, text);
    if (value < low || value > high)
        throw usage_error("--" + name + " is out of range: " + text);
    return value;
}

std::uint64_t parse_unsigned(const std::string& name, const std::string& text, double high) {
    const double value = parse_rate(name, text, 0, high);
    if (value != std::floor(value))
        throw usage_error("--" + name + " needs a whole number, not \"" + text + "\"");
    return static_cast<std::uint64_t>(value);
}

packet_format parse_format(const std::string& text) {
    if (text == "a")
        return packet_format::a;
    if (text == "b")
        return packet_format::b;
    if (text == "mixed")
        return packet_format::mixed;
    throw usage_error("--format is a, b or mixed, not \"" + text + "\"");
}

std::vector<speed_phase> parse_profile_option(const std::string& text) {
    try {
        return parse_speed_profile(text);
    } catch (const std::invalid_argument& e) {
        throw usage_error(std::string("--profile: ") + e.what());
    }
}

using setter = std::function<void(sim_options&, const std::string&)>;

const std::map<std::string, setter>& valued_options() {
    static const std::map<std::string, setter> options{
        {"format", [](sim_options& o, const std::string& v) { o.format = parse_format(v); }},
        {"link", [](sim_options& o, const std::string& v) { o.link = v; }},
        {"rate",
         [](sim_options& o, const std::string& v) { o.rate = parse_rate("rate", v, 0.01, 1e6); }},
        {"speed",
         [](sim_options& o, const std::string& v) { o.speed = parse_rate("speed", v, 0, 1e9); }},
        {"profile",
         [](sim_options& o, const std::string& v) { o.profile = parse_profile_option(v); }},
        {"start",
         [](sim_options& o, const std::string& v) {
             o.start = static_cast<std::uint32_t>(parse_unsigned("start", v, 4294967295.0));
         }},
        {"duration", [](sim_options& o,
                        const std::string& v) { o.duration = parse_rate("duration", v, 0, 1e9); }},
        {"noise-rate",
         [](sim_options& o, const std::string& v) {
             o.noise_rate = parse_rate("noise-rate", v, 0, 1);
         }},
        {"bad-checksum-rate",
         [](sim_options& o, const std::string& v) {
             o.bad_checksum_rate = parse_rate("bad-checksum-rate", v, 0, 1);
         }},
        {"seed",
         [](sim_options& o, const std::string& v) {
             o.seed = parse_unsigned("seed", v, 9007199254740992.0);
         }},
    };
    return options;
}

// Applies "--name value" or "--name=value" at args[i]; returns the index of the next argument.
std::size_t apply_option(sim_options& options, const std::vector<std::string>& args,
                         std::size_t i) {
    std::string name = args[i].substr(2);
    std::string value;
    const auto equals = name.find('=');
    const bool inline_value = equals != std::string::npos;
    if (inline_value) {
        value = name.substr(equals + 1);
        name.erase(equals);
    }
    if (!inline_value && (name == "pty" || name == "loop" || name == "help")) {
        (name == "pty" ? options.pty : name == "loop" ? options.loop : options.help) = true;
        return i + 1;
    }
    const auto found = valued_options().find(name);
    if (found == valued_options().end())
        throw usage_error("unknown option --" + name);
    if (!inline_value && i + 1 == args.size())
        throw usage_error("--" + name + " needs a value");
    found->second(options, inline_value ? value : args[i + 1]);
    return inline_value ? i + 1 : i + 2;
}
} // namespace

sim_options parse_sim_options(const std::vector<std::string>& args) {
    sim_options options;
    options.seed = std::random_device{}();
    for (std::size_t i = 0; i < args.size();) {
        if (args[i].rfind("--", 0) == 0) {
            i = apply_option(options, args, i);
        } else if (options.device.empty()) {
            options.device = args[i++];
        } else {
            throw usage_error("more than one device given");
        }
    }
    if (!options.help && options.pty == !options.device.empty())
        throw usage_error("give either --pty or a DEVICE");
    if (!options.link.empty() && !options.pty)
        throw usage_error("--link needs --pty");
    return options;
}
