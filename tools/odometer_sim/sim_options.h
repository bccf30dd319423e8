#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/odometer_sim/speed_profile.h"

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
    std::uint64_t seed = 0;
    bool help = false;
};

struct usage_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

extern const char* const usage_text;

// Throws usage_error for unknown options, missing or malformed values.
sim_options parse_sim_options(const std::vector<std::string>& args);
