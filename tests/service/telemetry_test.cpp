#include "service/telemetry.h"
#include "service/telemetry_reply.h"

#include <random>
#include <sys/socket.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/system/system_error.hpp>
#include <gmock/gmock.h>

#include "harness/child_process.h"
#include "recording/session_store.h"
#include "tests/support/event_recorder.h"
#include "tests/support/temp_home.h"

namespace {
using udp = boost::asio::ip::udp;

// One sender of queries, with its own port. A reply comes within milliseconds; waiting longer
// only slows the cases without one.
struct sender {
    boost::asio::io_context events;
    udp::socket socket{events, {udp::v4(), 0}};
    udp::endpoint to;
    explicit sender(std::uint16_t port) : to(boost::asio::ip::address_v4::loopback(), port) {
        const timeval limit{0, 300000};
        setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    }
    void send(const std::string& query) { socket.send_to(boost::asio::buffer(query), to); }
    std::optional<std::string> reply() {
        char bytes[8192];
        const ssize_t got = recv(socket.native_handle(), bytes, sizeof bytes, 0);
        return got >= 0 ? std::optional(std::string(bytes, std::size_t(got))) : std::nullopt;
    }
    std::optional<std::string> ask(const std::string& query) { return send(query), reply(); }
};

std::optional<std::string> reply(const std::string& query, const wxString& side = L"левый",
                                 bool recording = false) {
    return telemetry_reply(query.data(), query.size(), side, recording);
}

std::string status_document(const std::string& side = "левый",
                            const std::string& state = "остановлен") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<subsystem name=\"Подвагонное видео (" +
           side + " борт)\" status=\"" + state + "\"/>\n";
}
const std::string status_query = "<query command=\"status\"/>";
const std::string stopped_line = "Подвагонное видео (левый борт) - остановлен";
} // namespace

// The side is the one given at start, the state that of the session being recorded at the
// moment; a datagram longer than the buffer would otherwise be read as its first 4,096 bytes; junk
// never stops the responder, and datagrams too long are reported once however many come. The client
// tool prints the reply, or fails when none comes.
TEST(telemetry, answers_each_sender_and_rides_out_junk) {
    event_recorder owner;
    temp_dir root;
    session_store sessions;
    telemetry_thread thread(&owner, sessions, L"левый", 0);
    ASSERT_EQ(thread.Run(), wxTHREAD_NO_ERROR);
    sender first(thread.port()), second(thread.port());
    EXPECT_EQ(first.ask("<q command=\"text\"/>"), stopped_line);
    sessions.current_session().open(root.path() + "/s");
    EXPECT_EQ(second.ask(status_query), status_document("левый", "работает"));
    EXPECT_FALSE(first.reply()) << "the second sender's reply went to the second sender";
    EXPECT_THAT([&] { telemetry_thread(&owner, sessions, "x", thread.port()); },
                testing::ThrowsMessage<boost::system::system_error>(testing::StartsWith("bind")));
    // "<exit code> <output>" of the client tool.
    const auto status = [&](std::vector<std::string> options) {
        options.insert(options.begin(), {built_program("tresvik-client"), "status", "--port",
                                         std::to_string(thread.port())});
        const program_run run = run_program(options);
        return std::to_string(run.exit_code) + " " + run.out;
    };
    EXPECT_EQ(status({"--command", "text"}), "0 Подвагонное видео (левый борт) - работает\n");
    EXPECT_EQ(status({}), "0 " + status_document("левый", "работает"));
    EXPECT_FALSE(first.ask("not xml"));
    EXPECT_FALSE(first.ask(status_query + std::string(5000 - status_query.size(), ' ')));
    sessions.current_session().close();
    EXPECT_EQ(first.ask("<q/>"), stopped_line) << "read from its own bytes after a long one";
    std::mt19937 random(4);
    for (int i = 0; i < 200; ++i) {
        std::string junk(1 + random() % 6000, ' '); // a third of them too long
        std::generate(junk.begin(), junk.end(), [&] { return static_cast<char>(random()); });
        second.send(junk);
    }
    std::optional<std::string> last;
    for (int i = 0; i < 300 && last != stopped_line; ++i)
        last = second.ask("<q/>"); // after the replies to the junk
    EXPECT_EQ(last, stopped_line);
    thread.stop();
    thread.Wait();
    EXPECT_EQ(owner.texts(EVT_THREAD_LOG_ERROR), std::vector<wxString>{"Message too long"});
    EXPECT_EQ(status({"--timeout", "0.2"}), "1 ") << "no reply";
}

// Plain queries are the responder's test's.
TEST(telemetry_reply, the_command_selects_the_reply_and_side_and_state_fill_it) {
    const std::string nul_ended("<query command=\"status\"/>\0<broken", 33);
    for (const std::string& query :
         {std::string("<any-root command=\"status\"><child/></any-root>"), nul_ended})
        EXPECT_EQ(reply(query), status_document()) << query;
    for (const char* query : {"<query command=\"STATUS\"/>", "<query command=\"\"/>"})
        EXPECT_EQ(reply(query), stopped_line) << query;
    for (const char* query : {"<query command=\"status\">", "", "\xff\xfe<", "<q c=\"\xff\"/>"})
        EXPECT_EQ(reply(query), std::nullopt) << query;
    // The side is escaped as XML needs, and so is the command of the client tool's query.
    EXPECT_EQ(reply("<q/>", L"правый", true), "Подвагонное видео (правый борт) - работает");
    EXPECT_EQ(reply("<q command=\"status\"/>", L"<&\"", true),
              status_document("&lt;&amp;&quot;", "работает"));
    EXPECT_EQ(telemetry_query("a\"<b"), "<query command=\"a&quot;&lt;b\"/>");
    EXPECT_EQ(reply(telemetry_query("a\"<b")), stopped_line);
}
