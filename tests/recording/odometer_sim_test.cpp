#include "recording/odometer_decoder.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/child_process.h"

// The simulator as the recorder's peer: what it sends decodes to the profile asked for, its link
// names the line while it runs, and bad options are refused.
namespace {
using clock_type = std::chrono::steady_clock;

child_process simulator(std::vector<std::string> options) {
    options.insert(options.begin(), {built_program("tresvik-odometer-sim"), "--seed", "7"});
    return child_process(options);
}

// Every count the simulator sends until it exits and the pty hangs up.
std::vector<std::uint32_t> counts_until_hangup(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_NOCTTY);
    odometer_decoder decoder;
    std::vector<std::uint32_t> counts;
    for (const auto deadline = clock_type::now() + std::chrono::seconds(20);
         fd >= 0 && clock_type::now() < deadline;) {
        pollfd entry{fd, POLLIN, 0};
        std::uint8_t chunk[256];
        ssize_t got = 0;
        if (poll(&entry, 1, 100) > 0 && (got = read(fd, chunk, sizeof chunk)) <= 0)
            break;
        for (ssize_t i = 0; i < got; ++i)
            for (const odometer_count& count : decoder.push(chunk[i]))
                counts.push_back(count.value);
    }
    close(fd);
    return counts;
}
} // namespace

// Cruise rises from the start, stop repeats, reverse falls, reset returns to the start.
TEST(odometer_sim, sends_the_counts_of_its_profile_in_both_formats) {
    child_process sim =
        simulator({"--pty", "--format", "mixed", "--rate", "200", "--speed", "2000", "--start",
                   "5000", "--profile", "cruise:0.3s,stop:0.3s,reverse:0.3s,reset,cruise:0.2s"});
    const auto path = sim.line_after("odometer on ");
    ASSERT_TRUE(path);
    const std::vector<std::uint32_t> seen = counts_until_hangup(*path);
    EXPECT_EQ(sim.wait(), 0);
    ASSERT_GE(seen.size(), 180u);
    EXPECT_EQ(seen.front(), 5000u);
    const auto top = std::max_element(seen.begin(), seen.end());
    EXPECT_GE(std::count(seen.begin(), seen.end(), *top), 50) << "stop repeats the count";
    const auto reset = std::find(top, seen.end(), 5000u);
    ASSERT_NE(reset, seen.end()) << "the reset goes back to the start";
    EXPECT_LT(*(reset - 1), *top) << "reverse fell before the reset";
    EXPECT_TRUE(std::is_sorted(seen.begin(), top + 1));
    EXPECT_TRUE(std::is_sorted(reset, seen.end()));
}

// The recorder's device name survives a restart of the simulator; SIGTERM ends it at once.
TEST(odometer_sim, a_link_names_the_line_while_it_runs) {
    const std::string link = testing::TempDir() + "odometer-link";
    for (int run = 0; run < 2; ++run) {
        child_process sim = simulator({"--pty", "--rate", "1", "--link", link});
        EXPECT_EQ(sim.line_after("odometer on "), link);
        char target[256] = {};
        ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(std::string(target).rfind("/dev/pts/", 0), 0u) << target;
        const auto sent = clock_type::now();
        sim.signal(run == 0 ? SIGTERM : SIGINT);
        EXPECT_EQ(sim.wait(), 0);
        EXPECT_LT(clock_type::now() - sent, std::chrono::seconds(1));
        EXPECT_NE(access(link.c_str(), F_OK), 0) << "removed at the end";
    }
}

TEST(odometer_sim, bad_options_are_refused_with_status_2) {
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{"--pty", "--rate", "0"},
          {"--pty", "--format", "c"},
          {"--link", "/tmp/x"},
          {"--pty", "--profile", "cruise,stop:1s"},
          {"/dev/null", "--pty"},
          {"--pty", "--bogus"}}) {
        child_process sim = simulator(options);
        const int status = sim.wait();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << options[1] << " " << status;
    }
}
