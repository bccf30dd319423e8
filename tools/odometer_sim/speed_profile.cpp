#include "tools/odometer_sim/speed_profile.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace {
const std::pair<const char*, phase_kind> phase_names[] = {
    {"accelerate", phase_kind::accelerate}, {"cruise", phase_kind::cruise},
    {"decelerate", phase_kind::decelerate}, {"stop", phase_kind::stop},
    {"reverse", phase_kind::reverse},       {"reset", phase_kind::reset}};

phase_kind parse_phase_kind(const std::string& name) {
    for (const auto& [text, kind] : phase_names)
        if (name == text)
            return kind;
    throw std::invalid_argument("unknown profile phase \"" + name + "\"");
}

double parse_duration(const std::string& text, const std::string& phase) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    const std::string unit = end;
    if (end == text.c_str() || !(value >= 0) || !std::isfinite(value) ||
        (unit != "" && unit != "s" && unit != "ms"))
        throw std::invalid_argument("bad duration in profile phase \"" + phase + "\"");
    return unit == "ms" ? value / 1000 : value;
}

speed_phase parse_phase(const std::string& item) {
    const auto colon = item.find(':');
    const phase_kind kind = parse_phase_kind(item.substr(0, colon));
    if (colon == std::string::npos)
        return {kind, kind == phase_kind::reset ? 0.0 : -1.0};
    if (kind == phase_kind::reset)
        throw std::invalid_argument("profile phase \"reset\" takes no duration");
    return {kind, parse_duration(item.substr(colon + 1), item)};
}
} // namespace

std::vector<speed_phase> parse_speed_profile(const std::string& text) {
    std::vector<speed_phase> phases;
    std::istringstream items(text);
    std::string item;
    while (std::getline(items, item, ','))
        phases.push_back(parse_phase(item));
    if (phases.empty())
        throw std::invalid_argument("empty profile");
    for (std::size_t i = 0; i + 1 < phases.size(); ++i)
        if (phases[i].seconds < 0)
            throw std::invalid_argument("only the last profile phase may have no duration");
    return phases;
}

double phase_speed(const speed_phase& phase, double elapsed, double top) {
    const double share = phase.seconds > 0 ? std::min(elapsed / phase.seconds, 1.0) : 1.0;
    switch (phase.kind) {
    case phase_kind::accelerate:
        return top * share;
    case phase_kind::cruise:
        return top;
    case phase_kind::decelerate:
        return top * (1 - share);
    case phase_kind::reverse:
        return -top;
    default:
        return 0;
    }
}

std::uint32_t pulse_counter::value() const {
    const auto moved = static_cast<std::int64_t>(std::floor(travelled_));
    return static_cast<std::uint32_t>(static_cast<std::int64_t>(start_) + moved);
}

profile_player::profile_player(std::vector<speed_phase> phases, double top_speed, bool loop,
                               pulse_counter& counter)
    : phases_(std::move(phases)), top_speed_(top_speed), loop_(loop), counter_(counter) {
    settle();
}

void profile_player::advance(double seconds) {
    if (finished())
        return;
    counter_.advance(phase_speed(phases_[index_], elapsed_, top_speed_) * seconds);
    elapsed_ += seconds;
    settle();
}

// Leaves the phases that are over, applying resets on the way. A looped profile that takes no
// time at all ends after one pass instead of spinning.
void profile_player::settle() {
    for (std::size_t passed = 0; !finished(); ++passed) {
        const speed_phase& phase = phases_[index_];
        if (phase.kind != phase_kind::reset && (phase.seconds < 0 || elapsed_ < phase.seconds))
            return;
        if (phase.kind == phase_kind::reset)
            counter_.reset();
        elapsed_ = std::max(0.0, elapsed_ - phase.seconds);
        ++index_;
        if (finished() && loop_ && passed < phases_.size())
            index_ = 0;
    }
}
