#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "recording/coordinate_protocol.h"
#include "tests/support/child_process.h"

// The simulator as the recorder's peer. Its fault modes (dropped, cut and garbled replies) are
// driven by the recorder's own tests; here: that it answers, changes sessions, and ends cleanly.
namespace {
using boost::asio::ip::tcp;

struct coord_sim {
    child_process process;
    std::string port;
    explicit coord_sim(std::vector<std::string> options)
        : process([&] {
              options.insert(options.begin(), {built_program("tresvik-coord-sim"), "--port", "0"});
              return options;
          }()),
          port(process.line_after("listening on 127.0.0.1:").value_or("")) {}
};

class client {
public:
    explicit client(const std::string& port) : socket_(events_) {
        boost::asio::connect(socket_, tcp::resolver(events_).resolve("127.0.0.1", port));
    }
    coord_reply exchange() {
        boost::asio::write(socket_, boost::asio::buffer(coord_request()));
        coord_reply_bytes reply{};
        boost::asio::read(socket_, boost::asio::buffer(reply));
        return parse_coord_reply(reply);
    }

private:
    boost::asio::io_context events_;
    tcp::socket socket_;
};
} // namespace

TEST(coord_sim, answers_each_request_and_moves_to_the_next_session_on_sigusr1) {
    coord_sim sim({"--session-start", "5", "--text-a", "TRAIN", "--orientation", "-1"});
    ASSERT_FALSE(sim.port.empty());
    client peer(sim.port);
    const coord_reply first = peer.exchange();
    EXPECT_TRUE(first.numbered());
    EXPECT_EQ(first.session_number, 5u);
    EXPECT_EQ(first.text_a, "TRAIN");
    EXPECT_EQ(first.text_b, "5");
    EXPECT_EQ(first.orientation, -1);
    sim.process.signal(SIGUSR1);
    ASSERT_TRUE(sim.process.line()); // the new session's line
    EXPECT_EQ(peer.exchange().session_number, 6u);
    sim.process.signal(SIGTERM);
    const int status = sim.process.wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(coord_sim, named_sessions_come_in_turn) {
    coord_sim sim({"--mode", "named", "--names", "L12,L13", "--change-every", "1"});
    client peer(sim.port);
    const coord_reply first = peer.exchange();
    EXPECT_FALSE(first.numbered());
    EXPECT_EQ(first.text_b, "L12");
    std::this_thread::sleep_for(std::chrono::milliseconds(1300));
    EXPECT_NE(peer.exchange().text_b, "L12") << "changed on its own";
}

TEST(coord_sim, bad_options_are_refused_with_status_2) {
    for (const std::vector<std::string>& options : {std::vector<std::string>{"--mode", "sideways"},
                                                    {"--port", "70000"},
                                                    {"--text-a", std::string(33, 'x')},
                                                    {"--bogus"}}) {
        std::vector<std::string> arguments = {built_program("tresvik-coord-sim")};
        arguments.insert(arguments.end(), options.begin(), options.end());
        child_process sim(arguments);
        const int status = sim.wait();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << options[0] << " " << status;
    }
}
