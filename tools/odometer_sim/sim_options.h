#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "tools/odometer_sim/speed_profile.h"

namespace CLI {
class App;
}

enum class packet_format { a, b, mixed };

struct sim_options {
    std::string device; // serial device to write to; empty with pty
    bool pty = false;   // make a pty pair and write to its master
    std::string link;   // with pty: a symbolic link here names the pty's reader end
    packet_format format = packet_format::a;
    double rate = 50;   // packets per second
    double speed = 100; // counts per second at cruise
    std::vector<speed_phase> profile{{phase_kind::cruise, -1}};
    bool loop = false;
    std::uint32_t start = 0;
    double duration = -1; // seconds; negative: until the profile ends or a signal
    double noise_rate = 0;
    double bad_checksum_rate = 0;
    std::uint64_t seed = std::random_device{}(); // unless --seed gives one
};

// The options and DEVICE, read into options by the app's parse (tools/common/command_line.h).
void add_sim_options(CLI::App& app, sim_options& options);
