#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "recording/coordinate_protocol.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_home.h"

namespace {
using namespace std::chrono_literals;

std::string simulator_path() {
    const char* bin = std::getenv("TRESVIK_BIN");
    const std::filesystem::path folder =
        bin ? std::filesystem::path(bin)
            : std::filesystem::read_symlink("/proc/self/exe").parent_path();
    return (folder / "tresvik-coord-sim").string();
}

// The simulator as a child process on a free loopback port, its output in a file. Killed on
// destruction if a test left it running.
class running_sim {
public:
    explicit running_sim(std::vector<std::string> options) {
        std::vector<std::string> arguments = {simulator_path(), "--port", "0"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        const pid_t test = getpid();
        pid_ = fork();
        if (pid_ == 0)
            run_child(test, argv.data());
    }

    ~running_sim() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    std::string output() const {
        std::ifstream in(output_path_, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // True once text has appeared count times in the output, false after five seconds.
    bool wait_for_output(const std::string& text, int count = 1) const {
        for (const auto end = std::chrono::steady_clock::now() + 5s;
             std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(10ms))
            if (occurrences(output(), text) >= count)
                return true;
        return false;
    }

    // The port from the listening line, 0 if the simulator never listened.
    unsigned short port() const {
        const std::string prefix = "listening on 127.0.0.1:";
        if (!wait_for_output(prefix))
            return 0;
        const std::string text = output();
        return static_cast<unsigned short>(
            std::stoul(text.substr(text.find(prefix) + prefix.size())));
    }

    void signal(int number) const { kill(pid_, number); }

    // Exit status, -1 if the simulator did not exit normally within five seconds.
    int exit_status() {
        for (int i = 0; i < 500; ++i, std::this_thread::sleep_for(10ms)) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
        }
        return -1;
    }

    int stop_with(int number) {
        signal(number);
        return exit_status();
    }

private:
    // In the forked child: output to the file, then the simulator, dying with the test.
    [[noreturn]] void run_child(pid_t test, char** argv) const {
        die_with_parent(test);
        const int output = open(output_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (output < 0 || dup2(output, STDOUT_FILENO) < 0 || dup2(output, STDERR_FILENO) < 0)
            _exit(127);
        close(output);
        execv(argv[0], argv);
        _exit(127);
    }

    static int occurrences(const std::string& text, const std::string& part) {
        int count = 0;
        for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
            ++count;
        return count;
    }

    temp_dir folder_{"tresvik-coord-sim"};
    std::string output_path_ = folder_.path() + "/output.txt";
    pid_t pid_ = -1;
};

// A blocking loopback client whose reads give up after five seconds.
class sim_client {
public:
    explicit sim_client(unsigned short port) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
        timeval limit{5, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~sim_client() { close(fd_); }
    sim_client(const sim_client&) = delete;
    sim_client& operator=(const sim_client&) = delete;

    bool connected() const { return connected_; }

    void send_bytes(const unsigned char* data, std::size_t size) {
        ASSERT_EQ(send(fd_, data, size, MSG_NOSIGNAL), static_cast<ssize_t>(size));
    }

    void send_request() {
        const coord_request_bytes request = coord_request();
        send_bytes(request.data(), request.size());
    }

    // Up to one reply's bytes: fewer only if the server closed the connection or went quiet.
    std::vector<unsigned char> receive_reply() {
        std::vector<unsigned char> bytes(coord_reply_size);
        std::size_t got = 0;
        for (ssize_t n;
             got < bytes.size() && (n = recv(fd_, &bytes[got], bytes.size() - got, 0)) > 0;)
            got += static_cast<std::size_t>(n);
        bytes.resize(got);
        return bytes;
    }

    // True if the server closed the connection: a read returns end of stream, not a timeout.
    bool closed_by_server() {
        unsigned char byte;
        return recv(fd_, &byte, 1, 0) == 0;
    }

    coord_reply exchange() {
        send_request();
        const std::vector<unsigned char> bytes = receive_reply();
        EXPECT_EQ(bytes.size(), coord_reply_size);
        coord_reply_bytes reply{};
        std::copy(bytes.begin(), bytes.end(), reply.begin());
        return parse_coord_reply(reply);
    }

private:
    int fd_;
    bool connected_ = false;
};
} // namespace

TEST(coord_sim, answers_each_request_with_one_full_reply) {
    running_sim sim({"--session-start", "5", "--text-a", "TRAIN", "--orientation", "-1"});
    sim_client client(sim.port());
    ASSERT_TRUE(client.connected());
    for (int i = 0; i < 3; ++i) {
        const coord_reply reply = client.exchange();
        EXPECT_TRUE(reply.numbered());
        EXPECT_EQ(reply.session_number, 5u);
        EXPECT_EQ(reply.text_a, "TRAIN");
        EXPECT_EQ(reply.text_b, "5");
        EXPECT_EQ(reply.orientation, -1);
    }
}

TEST(coord_sim, reads_a_request_that_arrives_in_pieces) {
    running_sim sim({});
    sim_client client(sim.port());
    ASSERT_TRUE(client.connected());
    const coord_request_bytes request = coord_request();
    client.send_bytes(request.data(), 10);
    std::this_thread::sleep_for(100ms);
    client.send_bytes(request.data() + 10, request.size() - 10);
    EXPECT_EQ(client.receive_reply().size(), coord_reply_size);
}

TEST(coord_sim, answers_two_requests_sent_together_with_two_replies) {
    running_sim sim({});
    sim_client client(sim.port());
    ASSERT_TRUE(client.connected());
    std::vector<unsigned char> both;
    for (int i = 0; i < 2; ++i) {
        const coord_request_bytes request = coord_request();
        both.insert(both.end(), request.begin(), request.end());
    }
    client.send_bytes(both.data(), both.size());
    EXPECT_EQ(client.receive_reply().size(), coord_reply_size);
    EXPECT_EQ(client.receive_reply().size(), coord_reply_size);
}

TEST(coord_sim, closes_the_connection_on_an_unexpected_request) {
    running_sim sim({});
    sim_client client(sim.port());
    ASSERT_TRUE(client.connected());
    coord_request_bytes request = coord_request();
    request[7] = '3';
    client.send_bytes(request.data(), request.size());
    EXPECT_TRUE(client.closed_by_server());
}

TEST(coord_sim, sigusr1_starts_the_next_numbered_session) {
    running_sim sim({"--session-start", "0"});
    sim_client client(sim.port());
    ASSERT_TRUE(client.connected());
    EXPECT_EQ(client.exchange().session_number, 0u);
    sim.signal(SIGUSR1);
    ASSERT_TRUE(sim.wait_for_output("session number=1 code=CX1 : 1"));
    const coord_reply reply = client.exchange();
    EXPECT_EQ(reply.session_number, 1u);
    EXPECT_EQ(reply.text_b, "1");
}

TEST(coord_sim, sigusr1_cycles_through_the_named_sessions) {
    running_sim sim({"--mode", "named", "--names", "north,south", "--text-a", "A7"});
    sim_client client(sim.port());
    ASSERT_TRUE(client.connected());
    const std::vector<std::string> expected = {"north", "south", "north"};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (i > 0) {
            sim.signal(SIGUSR1);
            ASSERT_TRUE(sim.wait_for_output("code=A7 : " + expected[i] + "\n", i == 2 ? 2 : 1));
        }
        const coord_reply reply = client.exchange();
        EXPECT_FALSE(reply.numbered());
        EXPECT_EQ(reply.text_a, "A7");
        EXPECT_EQ(reply.text_b, expected[i]);
    }
}

TEST(coord_sim, change_every_starts_new_sessions_on_its_own) {
    running_sim sim({"--change-every", "0.2"});
    sim_client client(sim.port());
    ASSERT_TRUE(client.connected());
    EXPECT_TRUE(sim.wait_for_output("session number=3 "));
    EXPECT_GE(client.exchange().session_number, 3u);
}

TEST(coord_sim, drop_every_closes_the_connection_instead_of_answering) {
    running_sim sim({"--drop-every", "3"});
    {
        sim_client client(sim.port());
        ASSERT_TRUE(client.connected());
        client.exchange();
        client.exchange();
        client.send_request();
        EXPECT_TRUE(client.closed_by_server());
    }
    sim_client again(sim.port());
    ASSERT_TRUE(again.connected());
    EXPECT_EQ(again.exchange().session_number, 1u);
}

TEST(coord_sim, short_every_cuts_a_reply_and_closes_the_connection) {
    running_sim sim({"--short-every", "2"});
    sim_client client(sim.port());
    ASSERT_TRUE(client.connected());
    client.exchange();
    client.send_request();
    const std::vector<unsigned char> cut = client.receive_reply();
    EXPECT_GT(cut.size(), 0u);
    EXPECT_LT(cut.size(), coord_reply_size);
    EXPECT_TRUE(client.closed_by_server());
}

TEST(coord_sim, split_replies_arrive_whole_in_the_end) {
    running_sim sim({"--split-replies", "--session-start", "9"});
    sim_client client(sim.port());
    ASSERT_TRUE(client.connected());
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(client.exchange().session_number, 9u);
}

TEST(coord_sim, garbage_fills_only_the_bytes_a_client_ignores) {
    running_sim sim({"--garbage", "--session-start", "4", "--orientation", "270"});
    sim_client client(sim.port());
    ASSERT_TRUE(client.connected());
    client.send_request();
    const std::vector<unsigned char> bytes = client.receive_reply();
    ASSERT_EQ(bytes.size(), coord_reply_size);
    EXPECT_NE(std::count(bytes.begin(), bytes.begin() + 301, 0), 301);
    coord_reply_bytes raw{};
    std::copy(bytes.begin(), bytes.end(), raw.begin());
    const coord_reply reply = parse_coord_reply(raw);
    EXPECT_EQ(reply.session_number, 4u);
    EXPECT_EQ(reply.orientation, 270);
    EXPECT_EQ(reply.text_a, "CX1");
    EXPECT_EQ(reply.text_b, "4");
}

TEST(coord_sim, reply_delay_holds_each_reply_back) {
    running_sim sim({"--reply-delay", "300"});
    sim_client client(sim.port());
    ASSERT_TRUE(client.connected());
    const auto start = std::chrono::steady_clock::now();
    client.exchange();
    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
}

TEST(coord_sim, sigterm_and_sigint_end_the_server_cleanly) {
    for (int number : {SIGTERM, SIGINT}) {
        running_sim sim({});
        sim_client client(sim.port());
        ASSERT_TRUE(client.connected());
        client.exchange();
        EXPECT_EQ(sim.stop_with(number), 0) << number;
        EXPECT_NE(sim.output().find("stopped"), std::string::npos);
    }
}

TEST(coord_sim, refuses_an_unknown_option) {
    running_sim sim({"--bogus"});
    EXPECT_TRUE(sim.wait_for_output("not expected: --bogus"));
    EXPECT_EQ(sim.exit_status(), 2);
}
