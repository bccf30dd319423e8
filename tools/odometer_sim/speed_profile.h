#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One step of the simulated run. A phase without a duration lasts until the run ends; reset has
// no duration and sets the counter back to the start value at once.
enum class phase_kind { accelerate, cruise, decelerate, stop, reverse, reset };

struct speed_phase {
    phase_kind kind;
    double seconds; // negative: until the run ends
};

// Parses "accelerate:5s,cruise:20s,stop:3s,reverse:2s,reset" (durations in s or ms; a bare number
// is seconds). Throws std::invalid_argument naming the phase that is wrong.
std::vector<speed_phase> parse_speed_profile(const std::string& text);

// Counts per second at elapsed seconds of a phase, for a cruise speed of top counts per second.
double phase_speed(const speed_phase& phase, double elapsed, double top);

// The odometer's pulse counter: moves by speed times time and can be set back to its start.
class pulse_counter {
public:
    explicit pulse_counter(std::uint32_t start) : start_(start) {}
    void advance(double counts) { travelled_ += counts; }
    void reset() { travelled_ = 0; }
    // Wraps modulo 2^32 like the device's counter, also when reversing below zero.
    std::uint32_t value() const;

private:
    std::uint32_t start_;
    double travelled_ = 0;
};

// Plays a profile on a counter, one time step after the other. With loop the profile starts
// again after its last phase.
class profile_player {
public:
    profile_player(std::vector<speed_phase> phases, double top_speed, bool loop,
                   pulse_counter& counter);
    void advance(double seconds);
    bool finished() const { return index_ == phases_.size(); }

private:
    void settle();

    std::vector<speed_phase> phases_;
    double top_speed_;
    bool loop_;
    pulse_counter& counter_; // not owned; outlives the player
    std::size_t index_ = 0;
    double elapsed_ = 0; // in the current phase
};
