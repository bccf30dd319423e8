#include "recording/odometer_decoder.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/child_process.h"

namespace {
using clock_type = std::chrono::steady_clock;

// One run of tresvik-odometer-sim with --pty: the child, its stdout, and the pty end it names.
class sim_run {
public:
    explicit sim_run(std::vector<std::string> options) {
        int out[2];
        if (pipe(out) != 0)
            throw std::runtime_error("pipe");
        const char* bin = std::getenv("TRESVIK_BIN");
        const std::string program = std::string(bin ? bin : "bin") + "/tresvik-odometer-sim";
        options.insert(options.begin(), {program, "--pty", "--seed", "7"});
        const pid_t test = getpid();
        pid_ = fork();
        if (pid_ == 0) {
            die_with_parent(test);
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            close(out[1]);
            std::vector<char*> argv;
            for (std::string& option : options)
                argv.push_back(option.data());
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(out[1]);
        stdout_ = out[0];
    }
    ~sim_run() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(stdout_);
    }

    // The path announced in "odometer on PATH".
    std::string reader_path() {
        std::string line;
        char c;
        while (read(stdout_, &c, 1) == 1 && c != '\n')
            line += c;
        const std::string prefix = "odometer on ";
        return line.rfind(prefix, 0) == 0 ? line.substr(prefix.size()) : "";
    }

    int wait_for_exit() {
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return status;
    }

    void signal(int number) { kill(pid_, number); }

private:
    pid_t pid_ = -1;
    int stdout_ = -1;
};

// Everything the simulator sends until it exits and the pty hangs up, or until the deadline.
std::vector<std::uint8_t> read_line_until_hangup(const std::string& path, double seconds) {
    const int fd = open(path.c_str(), O_RDONLY | O_NOCTTY);
    if (fd < 0)
        return {};
    std::vector<std::uint8_t> received;
    const auto deadline = clock_type::now() + std::chrono::duration<double>(seconds);
    while (clock_type::now() < deadline) {
        pollfd entry{fd, POLLIN, 0};
        if (poll(&entry, 1, 100) <= 0)
            continue;
        std::uint8_t chunk[256];
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got <= 0)
            break;
        received.insert(received.end(), chunk, chunk + got);
    }
    close(fd);
    return received;
}

std::vector<odometer_count> decode(const std::vector<std::uint8_t>& stream) {
    odometer_decoder decoder;
    std::vector<odometer_count> found;
    for (std::uint8_t byte : stream)
        for (const odometer_count& count : decoder.push(byte))
            found.push_back(count);
    return found;
}

std::vector<std::uint32_t> values(const std::vector<odometer_count>& counts) {
    std::vector<std::uint32_t> result;
    for (const odometer_count& count : counts)
        result.push_back(count.value);
    return result;
}

std::vector<odometer_count> run_and_decode(const std::vector<std::string>& options) {
    sim_run sim(options);
    const std::string path = sim.reader_path();
    EXPECT_FALSE(path.empty());
    const auto received = read_line_until_hangup(path, 20);
    const int status = sim.wait_for_exit();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    return decode(received);
}
} // namespace

TEST(odometer_sim, cruise_sends_rising_counts_from_the_start_value) {
    const auto counts = run_and_decode({"--format", "a", "--rate", "200", "--speed", "2000",
                                        "--start", "1000", "--profile", "cruise:0.5s"});
    ASSERT_GE(counts.size(), 90u);
    const auto seen = values(counts);
    EXPECT_EQ(seen.front(), 1000u);
    EXPECT_TRUE(std::adjacent_find(seen.begin(), seen.end(), std::greater_equal<>()) == seen.end());
    EXPECT_TRUE(std::all_of(counts.begin(), counts.end(), [](auto c) { return c.kind == 4; }));
}

TEST(odometer_sim, reverse_sends_falling_counts) {
    const auto counts =
        run_and_decode({"--format", "b", "--rate", "200", "--speed", "2000", "--start", "50000",
                        "--profile", "cruise:0.3s,reverse:0.3s"});
    ASSERT_GE(counts.size(), 100u);
    const auto seen = values(counts);
    const auto top = std::max_element(seen.begin(), seen.end());
    EXPECT_GT(*top, 50000u);
    EXPECT_GT(top - seen.begin(), 40);
    EXPECT_GT(seen.end() - top, 40);
    EXPECT_TRUE(std::adjacent_find(top, seen.end(), std::less_equal<>()) == seen.end());
    EXPECT_TRUE(std::all_of(counts.begin(), counts.end(), [](auto c) { return c.kind == 7; }));
}

TEST(odometer_sim, stop_repeats_the_count) {
    const auto seen = values(run_and_decode({"--rate", "200", "--speed", "2000", "--start", "7",
                                             "--profile", "cruise:0.2s,stop:0.3s"}));
    ASSERT_GE(seen.size(), 90u);
    EXPECT_GT(seen.back(), 7u);
    EXPECT_GE(std::count(seen.begin(), seen.end(), seen.back()), 55);
}

TEST(odometer_sim, reset_goes_back_to_the_start_value) {
    const auto counts =
        run_and_decode({"--format", "mixed", "--rate", "200", "--speed", "2000", "--start", "5000",
                        "--profile", "cruise:0.3s,reset,cruise:0.3s"});
    const auto seen = values(counts);
    ASSERT_GE(seen.size(), 100u);
    const auto drop = std::adjacent_find(seen.begin(), seen.end(), std::greater<>());
    ASSERT_NE(drop, seen.end());
    EXPECT_EQ(*(drop + 1), 5000u);
    EXPECT_GT(drop - seen.begin(), 40);
    EXPECT_TRUE(std::adjacent_find(drop + 1, seen.end(), std::greater<>()) == seen.end());
    EXPECT_GT(std::count_if(counts.begin(), counts.end(), [](auto c) { return c.kind == 4; }), 40);
    EXPECT_GT(std::count_if(counts.begin(), counts.end(), [](auto c) { return c.kind == 7; }), 40);
}

TEST(odometer_sim, wrong_checksums_decode_to_nothing) {
    sim_run sim({"--format", "b", "--rate", "200", "--start", "1000", "--duration", "0.5",
                 "--bad-checksum-rate", "1.0"});
    const auto received = read_line_until_hangup(sim.reader_path(), 20);
    EXPECT_EQ(sim.wait_for_exit(), 0);
    EXPECT_GE(received.size(), 7u * 90);
    EXPECT_EQ(decode(received).size(), 0u);
}

// Random noise may form a format A packet by chance, as on a real line; format B ones need their
// checksum.
TEST(odometer_sim, noise_leaves_the_counts_decodable) {
    std::vector<std::uint32_t> seen;
    for (const odometer_count& count :
         run_and_decode({"--format", "b", "--rate", "200", "--speed", "2000", "--start", "1000",
                         "--duration", "0.5", "--noise-rate", "0.5"}))
        if (count.kind == 7)
            seen.push_back(count.value);
    ASSERT_GE(seen.size(), 90u);
    EXPECT_EQ(seen.front(), 1000u);
    EXPECT_TRUE(std::adjacent_find(seen.begin(), seen.end(), std::greater_equal<>()) == seen.end());
}

TEST(odometer_sim, ends_cleanly_on_sigterm_and_sigint) {
    for (int number : {SIGTERM, SIGINT}) {
        sim_run sim({"--rate", "1"});
        ASSERT_FALSE(sim.reader_path().empty());
        const auto sent = clock_type::now();
        sim.signal(number);
        const int status = sim.wait_for_exit();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_LT(clock_type::now() - sent, std::chrono::seconds(1));
    }
}

// The recorder's device name survives a restart of the simulator.
TEST(odometer_sim, a_link_names_the_line_while_it_runs) {
    const std::string link = testing::TempDir() + "odometer-link";
    for (int run = 0; run < 2; ++run) {
        sim_run sim({"--rate", "1", "--link", link});
        EXPECT_EQ(sim.reader_path(), link);
        char target[256] = {};
        ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(std::string(target).rfind("/dev/pts/", 0), 0u) << target;
        sim.signal(SIGTERM);
        sim.wait_for_exit();
        EXPECT_NE(access(link.c_str(), F_OK), 0) << "removed at the end";
    }
}
