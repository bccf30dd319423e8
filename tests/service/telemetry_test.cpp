#include "service/telemetry.h"

#include <atomic>
#include <random>
#include <thread>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <gtest/gtest.h>

#include "recording/session_db.h"
#include "tests/support/event_recorder.h"
#include "tests/support/temp_home.h"

namespace {
using namespace std::chrono_literals;
using boost::asio::ip::udp;

// One sender of queries, with its own port; replies are waited for at most a second.
class sender {
public:
    sender() : socket_(events_, udp::endpoint(udp::v4(), 0)) {}
    std::optional<std::string> ask(std::uint16_t port, const std::string& query) {
        send(port, query);
        return reply();
    }
    void send(std::uint16_t port, const std::string& query) {
        socket_.send_to(boost::asio::buffer(query),
                        udp::endpoint(boost::asio::ip::make_address("127.0.0.1"), port));
    }
    // A reply comes within milliseconds; waiting longer only slows the cases without one.
    std::optional<std::string> reply() {
        std::array<char, 8192> bytes{};
        std::optional<std::string> got;
        udp::endpoint from;
        socket_.async_receive_from(boost::asio::buffer(bytes), from,
                                   [&](auto error, std::size_t n) {
                                       if (!error)
                                           got = std::string(bytes.data(), n);
                                   });
        events_.restart();
        events_.run_for(300ms);
        if (!events_.stopped()) {
            socket_.cancel();
            events_.restart();
            events_.poll();
        }
        return got;
    }

private:
    boost::asio::io_context events_;
    udp::socket socket_;
};

struct telemetry_fixture : testing::Test {
    event_recorder owner;
    std::atomic<bool> recording{false};
    std::unique_ptr<telemetry_thread> thread;

    void start(const wxString& side) {
        thread = std::make_unique<telemetry_thread>(&owner, side, 0,
                                                    [this] { return recording.load(); });
        ASSERT_EQ(thread->Run(), wxTHREAD_NO_ERROR);
    }
    ~telemetry_fixture() override {
        if (!thread)
            return;
        thread->stop();
        thread->Wait();
    }
};

const std::string status_query = "<query command=\"status\"/>";
} // namespace

TEST_F(telemetry_fixture, answers_with_the_side_read_at_start_and_the_state_of_now) {
    start(L"правый");
    sender client;
    EXPECT_EQ(client.ask(thread->port(), "<q command=\"text\"/>"),
              "Подвагонное видео (правый борт) - остановлен");
    recording = true;
    EXPECT_EQ(client.ask(thread->port(), status_query),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<subsystem name=\"Подвагонное видео "
              "(правый борт)\" status=\"работает\"/>\n");
    EXPECT_FALSE(client.ask(thread->port(), "not xml")) << "no reply";
    EXPECT_TRUE(owner.texts(EVT_THREAD_LOG_ERROR).empty());
}

// The kernel would hand over the first 4,096 bytes of it as if they were the whole datagram.
TEST_F(telemetry_fixture, a_datagram_too_long_gets_no_reply_and_one_error_row) {
    start(L"левый");
    sender client;
    std::string padded = status_query;
    padded.resize(5000, ' ');
    EXPECT_FALSE(client.ask(thread->port(), padded));
    EXPECT_EQ(client.ask(thread->port(), "<q/>"), "Подвагонное видео (левый борт) - остановлен")
        << "a short query after a long one is read from its own bytes";
    EXPECT_EQ(owner.texts(EVT_THREAD_LOG_ERROR), std::vector<wxString>{"Message too long"});
}

TEST_F(telemetry_fixture, each_sender_gets_its_own_reply) {
    start(L"левый");
    sender first, second;
    EXPECT_TRUE(first.ask(thread->port(), status_query)->find("<subsystem") != std::string::npos);
    EXPECT_EQ(second.ask(thread->port(), "<q/>"), "Подвагонное видео (левый борт) - остановлен");
    EXPECT_FALSE(first.reply()) << "the second sender's reply went to the second sender";
}

TEST_F(telemetry_fixture, random_datagrams_never_stop_the_responder) {
    start(L"левый");
    sender client;
    std::mt19937 random(4);
    for (int i = 0; i < 200; ++i) {
        std::string junk(1 + random() % 600, ' ');
        for (char& c : junk)
            c = static_cast<char>(random());
        client.send(thread->port(), junk);
    }
    std::optional<std::string> last;
    for (int i = 0; i < 300 && !(last && last->find("<subsystem") != std::string::npos); ++i)
        last = client.ask(thread->port(), status_query); // after the replies to the junk
    EXPECT_TRUE(last);
}

TEST(telemetry, the_status_word_follows_the_session_being_recorded) {
    temp_dir root;
    event_recorder owner;
    telemetry_thread thread(&owner, L"левый", 0);
    thread.Run();
    sender client;
    EXPECT_EQ(client.ask(thread.port(), "<q/>"), "Подвагонное видео (левый борт) - остановлен");
    current_session.open(root.path() + "/s");
    EXPECT_EQ(client.ask(thread.port(), "<q/>"), "Подвагонное видео (левый борт) - работает");
    current_session.close();
    thread.stop();
    thread.Wait();
}

TEST(telemetry, a_taken_port_throws_the_bind_error) {
    boost::asio::io_context events;
    udp::socket taken(events, udp::endpoint(udp::v4(), 0));
    event_recorder owner;
    try {
        telemetry_thread thread(&owner, "x", taken.local_endpoint().port());
        FAIL() << "bound a taken port";
    } catch (const boost::system::system_error& e) {
        EXPECT_EQ(std::string(e.what()).rfind("bind", 0), 0u) << e.what();
    }
}
