#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <random>

#include "recording/odometer_decoder.h"
#include "tools/common/command_line.h"
#include "tools/odometer_sim/line_output.h"
#include "tools/odometer_sim/sim_options.h"

namespace {
volatile std::sig_atomic_t stop_requested = 0;

void request_stop(int) {
    stop_requested = 1;
}

// Without SA_RESTART, so that a sleep or a blocked write returns and the stop is seen.
void install_stop_handlers() {
    struct sigaction action {};
    action.sa_handler = request_stop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

class packet_source {
public:
    explicit packet_source(const sim_options& options) : options_(options), random_(options.seed) {}

    std::vector<std::uint8_t> next(std::uint32_t count) {
        std::vector<std::uint8_t> bytes;
        if (chance(options_.noise_rate))
            for (int n = std::uniform_int_distribution<int>(1, 3)(random_); n > 0; --n)
                bytes.push_back(static_cast<std::uint8_t>(random_()));
        const bool use_a = options_.format == packet_format::a ||
                           (options_.format == packet_format::mixed && sent_++ % 2 == 0);
        const auto append = [&](const auto& packet) {
            bytes.insert(bytes.end(), packet.begin(), packet.end());
        };
        use_a ? append(encode_format_a(count)) : append(encode_format_b(count));
        if (chance(options_.bad_checksum_rate))
            bytes.back() = use_a ? (bytes.back() & 0x3F) | 0x80 : bytes.back() + 1;
        return bytes;
    }

private:
    bool chance(double rate) { return rate > 0 && std::bernoulli_distribution(rate)(random_); }

    const sim_options& options_;
    std::mt19937_64 random_;
    std::uint64_t sent_ = 0;
};

// A link that names the pty's reader end for as long as the simulator runs.
class reader_link {
public:
    reader_link(std::string path, const std::string& target) : path_(std::move(path)) {
        if (path_.empty())
            return;
        std::error_code ignored;
        if (std::filesystem::is_symlink(path_, ignored))
            std::filesystem::remove(path_, ignored);
        std::filesystem::create_symlink(target, path_);
    }
    ~reader_link() {
        std::error_code ignored;
        if (!path_.empty())
            std::filesystem::remove(path_, ignored);
    }
    reader_link(const reader_link&) = delete;
    reader_link& operator=(const reader_link&) = delete;

private:
    std::string path_;
};

void add_seconds(timespec& time, double seconds) {
    const long long nanos = time.tv_nsec + static_cast<long long>(seconds * 1e9);
    time.tv_sec += nanos / 1000000000;
    time.tv_nsec = nanos % 1000000000;
}

timespec time_left(const timespec& deadline) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    long long nanos =
        (deadline.tv_sec - now.tv_sec) * 1000000000LL + deadline.tv_nsec - now.tv_nsec;
    nanos = std::max(nanos, 0LL);
    return {static_cast<time_t>(nanos / 1000000000), static_cast<long>(nanos % 1000000000)};
}

// Returns false when a stop was requested during the sleep. Sleeps in ppoll rather than
// clock_nanosleep: sanitizer runtimes hold a signal back until an intercepted call returns, and
// ppoll is one, so a stop is seen at once there too.
bool sleep_until(const timespec& deadline) {
    while (!stop_requested) {
        const timespec left = time_left(deadline);
        if (left.tv_sec == 0 && left.tv_nsec == 0)
            return true;
        if (ppoll(nullptr, 0, &left, nullptr) < 0 && errno != EINTR)
            return false;
    }
    return false;
}

void run(const sim_options& options, line_output& line) {
    pulse_counter counter(options.start);
    profile_player player(options.profile, options.speed, options.loop, counter);
    packet_source packets(options);
    const double period = 1 / options.rate;
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (std::uint64_t sent = 0; !stop_requested; ++sent) {
        line.send(packets.next(counter.value()), stop_requested);
        const bool time_up = options.duration >= 0 && (sent + 1) * period > options.duration;
        if (player.finished() || time_up)
            return;
        add_seconds(next, period);
        if (!sleep_until(next))
            return;
        player.advance(period);
    }
}
} // namespace

int main(int argc, char** argv) {
    install_stop_handlers();
    tool_app app("tresvik-odometer-sim",
                 "Sends odometer packets to a serial line: to DEVICE or, with --pty, to a new\n"
                 "pseudo-terminal pair whose other end is printed as \"odometer on /dev/pts/N\".\n"
                 "Runs until the profile ends, --duration passes, or SIGINT or SIGTERM arrives.");
    sim_options options;
    add_sim_options(app, options);
    return run_tool(app, argc, argv, [&] {
        auto line =
            options.pty ? line_output::open_pty() : line_output::open_device(options.device);
        const reader_link link(options.link, line->reader_path());
        std::cout << "odometer on " << (options.link.empty() ? line->reader_path() : options.link)
                  << std::endl;
        run(options, *line);
        return 0;
    });
}
