#include "tools/odometer_sim/sim_options.h"

#include <stdexcept>

#include "tools/common/command_line.h"

namespace {
const char* const profile_help =
    R"(comma-separated phases NAME[:DURATION], DURATION as 5s, 500ms or 5
(seconds); a phase without duration lasts until the run ends and may
only come last. Phases:
  accelerate  speed rises from 0 to --speed
  cruise      --speed
  decelerate  speed falls from --speed to 0
  stop        speed 0: the count repeats
  reverse     -(--speed): the count falls
  reset       no duration: the count goes back to --start
e.g. "accelerate:5s,cruise:20s,stop:3s,reverse:2s,reset,cruise")";

std::vector<speed_phase> profile_option(const std::string& text) {
    try {
        return parse_speed_profile(text);
    } catch (const std::invalid_argument& e) {
        throw CLI::ValidationError("--profile", e.what());
    }
}
} // namespace

void add_sim_options(CLI::App& app, sim_options& options) {
    app.add_option("DEVICE", options.device,
                   "serial device, opened at 115200 baud, 8 data bits, no parity,\n"
                   "one stop bit, no flow control");
    CLI::Option* pty =
        app.add_flag("--pty", options.pty,
                     "make a pty pair instead of opening DEVICE; bytes the reader has not\n"
                     "taken wait in the pty (about 4 KB), the rest is dropped");
    app.add_option("--link", options.link,
                   "with --pty: a symbolic link at PATH to the pty's reader end, made\n"
                   "anew at start (an earlier link there is replaced) and removed at\n"
                   "the end, so a restarted simulator comes back under the same name")
        ->needs(pty)
        ->type_name("PATH");
    add_choice(app, "--format", options.format,
               {{"a", packet_format::a}, {"b", packet_format::b}, {"mixed", packet_format::mixed}},
               "packet format A (4 bytes, low 24 bits of the count), B (7 bytes with\n"
               "checksum) or both in turn");
    add_number(app, "--rate", options.rate, 0.01, 1e6, "packets per second")->type_name("N");
    add_number(app, "--speed", options.speed, 0, 1e9, "counts per second at cruise")
        ->type_name("N");
    app.add_option_function<std::string>(
           "--profile",
           [&options](const std::string& text) { options.profile = profile_option(text); },
           profile_help)
        ->type_name("PHASES")
        ->default_str("cruise");
    app.add_flag("--loop", options.loop, "play the profile again after its last phase");
    add_number(app, "--start", options.start, 0, 4294967295.0, "first count")->type_name("COUNT");
    add_number(app, "--duration", options.duration, 0, 1e9, "stop after this time")
        ->type_name("SECONDS")
        ->default_str("");
    add_number(app, "--noise-rate", options.noise_rate, 0, 1,
               "chance per packet of 1 to 3 random bytes before it;\n"
               "like noise on a real line, these may form a packet by chance")
        ->type_name("P");
    add_number(app, "--bad-checksum-rate", options.bad_checksum_rate, 0, 1,
               "chance per packet of a damaged packet: format B gets a\n"
               "wrong checksum, format A (which has none) a wrong marker in its last\n"
               "byte")
        ->type_name("P");
    add_number(app, "--seed", options.seed, 0, 9007199254740992.0,
               "seed of the noise and damage choices (by default from the clock)")
        ->default_str("");
    app.callback([&options] {
        if (options.pty == !options.device.empty())
            throw CLI::ValidationError("give either --pty or a DEVICE");
    });
}
