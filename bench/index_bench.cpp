// Index cost: refresh_session_index over 1,000 session folders of 10 frames each, against a bare
// loop that opens each folder with leveldb, reads the same keys through one iterator and closes
// it. Alternating rounds in one run; the goal is a ratio of at most 1.2.
#include <cstdio>
#include <vector>

#include "bench/session_bench_support.h"
#include "recording/session_store.h"

namespace {
constexpr int sessions = 1000;
constexpr int frames_per_session = 10;
constexpr int rounds = 5;

double refresh_round(session_store& store) {
    const auto start = std::chrono::steady_clock::now();
    store.refresh_session_index(
        [](const std::string& message) { std::fprintf(stderr, "%s\n", message.c_str()); });
    const double seconds = seconds_since(start);
    return store.entries().size() == sessions ? seconds : -1;
}

} // namespace

int main() {
    const temp_dir root;
    const auto setup = std::chrono::steady_clock::now();
    make_sessions(root.path(), sessions, frames_per_session);
    session_store store(root.path());
    // The first open of a folder after recording turns its log into a table; neither side
    // should pay for that in the timed rounds.
    refresh_round(store);
    std::printf("setup: %d sessions x %d frames (160x120) in %.1f s\n", sessions,
                frames_per_session, seconds_since(setup));

    std::vector<double> bare;
    std::vector<double> refresh;
    for (int round = 0; round < rounds; ++round) {
        bare.push_back(bare_index_round(root.path()));
        refresh.push_back(refresh_round(store));
    }
    const double bare_median = percentile(bare, 0.5), refresh_median = percentile(refresh, 0.5);
    if (bare_median <= 0 || refresh_median <= 0) {
        std::printf("a round did not see every session\n");
        return 1;
    }
    std::printf("bare leveldb loop:      %.3f s (median of %d)\n", bare_median, rounds);
    std::printf("refresh_session_index:  %.3f s (median of %d)\n", refresh_median, rounds);
    std::printf("ratio refresh/bare:     %.3f (goal <= 1.2)\n", refresh_median / bare_median);
    return 0;
}
