#include "service/data_service.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <set>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <gmock/gmock.h>
#include <opencv2/imgcodecs.hpp>

#include "base/encoding.h"
#include "harness/child_process.h"
#include "recording/session_store.h"
#include "service/data_client.h"
#include "service/data_protocol.h"
#include "tests/recording/raw_session.h"
#include "tests/support/event_recorder.h"
#include "tests/support/temp_home.h"

namespace {
using namespace std::chrono_literals;
using testing::AllOf;
using testing::Contains;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::StartsWith;
using testing::Value;

std::vector<unsigned char> operator+(std::vector<unsigned char> bytes,
                                     const std::vector<unsigned char>& more) {
    bytes.insert(bytes.end(), more.begin(), more.end());
    return bytes;
}

// The peak resident memory of a child that has begun its own program, in KiB, watched until it
// has ended (its status then names no memory).
long peak_kib_until_ended(pid_t child) {
    long peak = 0;
    for (bool running = true; running; std::this_thread::sleep_for(10ms)) {
        const long now = process_memory_kib(std::to_string(child), "VmHWM");
        running = now > 0;
        peak = std::max(peak, now);
    }
    return peak;
}

// A plain socket connected to the port on loopback (or not, when that failed).
int connected(std::uint16_t port, int client = socket(AF_INET, SOCK_STREAM, 0)) {
    const sockaddr_in address{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    return client;
}

// An indexed session "A7 : 12" with a large frame at 200, and the service on a free port.
struct service_fixture : testing::Test {
    temp_dir root;
    session_store sessions{root.path()};
    event_recorder owner;
    std::unique_ptr<service_thread> service;
    const std::string session = root.path() + "/2021.03.04 12.05.33";
    const std::string big_jpeg = jpeg_of(test_frame(3, 1200, 1920));

    service_fixture() {
        raw_entries entries = recorded_session();
        entries["0000000200"] = big_jpeg;
        entries["0000000250"] = jpeg_declaring(32000, 32000);
        write_raw_session(session, entries);
        sessions.refresh_session_index([](const std::string&) {});
        start(any_free_port);
    }
    ~service_fixture() override { stop(); }
    template <typename Port> void start(const Port& port, const service_options& options = {}) {
        service = std::make_unique<service_thread>(&owner, sessions, port, options);
        ASSERT_EQ(service->Run(), wxTHREAD_NO_ERROR);
        owner.pump_until([&] { return service->port() != 0 || !service->IsAlive(); });
    }
    void stop() {
        if (!service)
            return;
        service->stop();
        service->Wait();
        service.reset();
    }
    std::vector<std::string> errors() { return owner.strings(EVT_THREAD_LOG_ERROR); }
    std::size_t info_rows(const std::string& text) {
        const auto rows = owner.strings(EVT_THREAD_LOG_INFO);
        return std::count(rows.begin(), rows.end(), text);
    }
};
} // namespace

// A fetch that fails (the session is handed out) answers four zero bytes, is reported once, and the
// connection goes on. The client tool fails on no image (length 0) and on a file it cannot
// write, and tells the size and geometry of a PNG it saved. A stored frame comes as the PNG of what
// decoding its JPEG in colour gives; anything else as the grey not-found picture, with an error row
// for a frame that declares more pixels than a camera gives. A second code
// field of "" or 0 reads the session being recorded.
TEST_F(service_fixture, requests_get_the_frame_at_or_after_their_dpp_or_the_not_found_picture) {
    // "<exit code> <output>" of the client tool.
    const auto fetch = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {built_program("tresvik-client"), "fetch", "--port",
                                             std::to_string(service->port())});
        const program_run run = run_program(arguments);
        return std::to_string(run.exit_code) + " " + run.out + run.err;
    };
    data_client client(service->port());
    const std::string png = root.path() + "/out.png";
    std::optional<session_hold> hold(sessions.hold(session));
    client.send(long_request("A7", "12", 100));
    EXPECT_EQ(client.response(), (std::vector<unsigned char>{0, 0, 0, 0}));
    EXPECT_THAT(fetch({"A7", "12", "100", png}), AllOf(StartsWith("1 "), HasSubstr("length 0")));
    hold.reset();
    client.send(long_request("A7", "12", 100));
    EXPECT_GT(client.response().value_or(std::vector<unsigned char>()).size(), 4u);
    EXPECT_THAT(fetch({"A7", "12", "100", png}),
                AllOf(StartsWith("0 "), HasSubstr("160 x 120, 3 channel(s)")));
    EXPECT_EQ(cv::imread(png, cv::IMREAD_UNCHANGED).channels(), 3);
    EXPECT_THAT(fetch({"--short", "0xA7", "12", "100", png}),
                AllOf(StartsWith("0 "), HasSubstr("640 x 480, 1 channel(s)")))
        << "an unknown session gets the not-found picture";
    EXPECT_THAT(fetch({"A7", "12", "100", root.path() + "/no/x.png"}),
                AllOf(StartsWith("1 "), HasSubstr("/no/x.png: cannot write the file")));
    sessions.current_session().open(root.path() + "/live");
    sessions.current_session().record_frame(test_frame(5), 500);
    const auto live_short = short_request(0x1a2b, 0, 500);
    const auto stored = [](std::uint32_t seed) { return decoded(jpeg_of(test_frame(seed))); };
    const std::pair<std::vector<unsigned char>, cv::Mat> cases[] = {
        {long_request("A7", "12", 100), stored(100)},
        {long_request("A7", "12", 150), decoded(big_jpeg)},
        {long_request("A7", "", 499), stored(5)},
        {long_request("whatever", "", 500), stored(5)},
        {{live_short.begin(), live_short.end()}, stored(5)},
        {long_request("A7", "12", 301), not_found_image(L"A7 : 12", 301)},
        {long_request("A7", "12", 250), not_found_image(L"A7 : 12", 250)},
        {long_request("A7", "13", 100), not_found_image(L"A7 : 13", 100)},
        {long_request("", "", 501), not_found_image(501)}, // a metadata value, no frame
    };
    for (const auto& [request, expected] : cases) {
        client.send(request);
        const auto response = client.response();
        ASSERT_TRUE(response);
        EXPECT_TRUE(same_image(
            cv::imdecode(std::vector<unsigned char>(response->begin() + 4, response->end()),
                         cv::IMREAD_UNCHANGED),
            expected));
    }
    sessions.current_session().close();
    EXPECT_THAT(errors(), ElementsAre(HasSubstr("is in use: it is held for copying"),
                                      HasSubstr("DPP 250 of session A7 : 12 is not decoded: it "
                                                "declares 32000 x 32000 pixels")))
        << "the same failure once a minute";
}

// Requests are read across segments: one cut in two and several in one send are answered, in
// order, and so is one followed by the client's end of stream; bytes that make no whole request
// end the connection without a response after the give-up time. A client that sends nothing, or
// takes none of its response, is closed after its time; clients that vanish while their response
// is sent are reported; others are served meanwhile. Each failure is written once however many
// clients have it, and stopping with responses in flight touches nothing freed.
TEST_F(service_fixture, requests_are_read_across_segments_and_no_client_holds_up_the_others) {
    stop();
    start(any_free_port, service_options{500ms, 500ms, 256, {200ms, 1s}});
    const auto small = long_request("A7", "12", 100), big = long_request("A7", "12", 200);
    // The sizes of the responses to the parts, sent 300 ms apart: beyond the settle time.
    const auto sizes = [&](std::vector<std::vector<unsigned char>> parts, int responses) {
        data_client client(service->port());
        for (const auto& part : parts)
            client.send(part), std::this_thread::sleep_for(300ms);
        std::vector<std::size_t> sizes;
        while (responses-- > 0)
            sizes.push_back(client.response().value_or(std::vector<unsigned char>()).size());
        return sizes;
    };
    const std::size_t small_size = sizes({small}, 1)[0];
    EXPECT_THAT(sizes({{small.begin(), small.begin() + 5}, {small.begin() + 5, small.end()}}, 1),
                ElementsAre(small_size));
    EXPECT_THAT(sizes({big + small}, 2), ElementsAre(testing::Gt(10 * small_size), small_size));
    std::vector<std::unique_ptr<data_client>> wrong_sizes;
    for (std::size_t size : {15, 17, 1025, 1500}) {
        wrong_sizes.push_back(std::make_unique<data_client>(service->port()));
        wrong_sizes.back()->send(std::vector<unsigned char>(size, 7));
    }
    for (const auto& client : wrong_sizes)
        EXPECT_TRUE(client->closed_without_reply());
    const int half_closed = connected(service->port());
    send(half_closed, small.data(), small.size(), 0);
    shutdown(half_closed, SHUT_WR);
    unsigned char header[4] = {};
    EXPECT_EQ(recv(half_closed, header, 4, MSG_WAITALL), 4);
    close(half_closed);
    data_client idle(service->port()), stalled(service->port());
    stalled.send(big + big + big + big);
    for (int i = 0; i < 10; ++i)
        data_client(service->port()).send(big); // gone before its response
    data_client served(service->port());
    served.send(small);
    EXPECT_TRUE(served.response());
    EXPECT_TRUE(idle.closed_without_reply());
    ASSERT_TRUE(owner.pump_until(
        [&] { return Value(errors(), Contains(HasSubstr("took no part of its response"))); }));
    stop();
    const auto rows = errors();
    EXPECT_EQ(std::set<std::string>(rows.begin(), rows.end()).size(), rows.size())
        << testing::PrintToString(rows);
    EXPECT_THAT(rows, Contains("Bad request. Size mismatch."));
    EXPECT_THAT(owner.strings(EVT_THREAD_LOG_INFO), Contains(HasSubstr("sent no request in time")));
}

// A port setting that is no decimal number from 1 to 65535 is named in a row (a NUL byte shown as
// such) and the default port used; the port listened on is logged. The rest of the program goes
// on without the service when the port is taken (the main window's test).
TEST_F(service_fixture, a_port_setting_out_of_range_is_refused_and_the_port_logged) {
    EXPECT_EQ(info_rows("Data service listening on port " + std::to_string(service->port())), 1u);
    for (const std::string& text :
         {std::string("65536"), std::string("12\0 0", 5), std::string("12x")}) {
        stop();
        const std::size_t before = errors().size();
        start(wxString::FromUTF8(text.data(), text.size()));
        ASSERT_TRUE(owner.pump_until_count(EVT_THREAD_LOG_ERROR, before + 1));
        EXPECT_THAT(errors()[before], HasSubstr('"' + visible_text(text) + "\" is not a decimal"));
        EXPECT_TRUE(service->port() == 12600 || !owner.texts(EVT_THREAD_SERVICE_DOWN).empty());
    }
}

// With no descriptor left, accepting fails; once some are free again, the service serves. The
// client is made of plain system calls: with every descriptor taken it needs no more than one.
TEST_F(service_fixture, accept_errors_pass_and_accepting_goes_on) {
#ifdef TRESVIK_TYPE_CHECKS_NEED_DESCRIPTORS
    GTEST_SKIP() << "the type checks of this build need descriptors this test takes away";
#endif
    rlimit saved{};
    getrlimit(RLIMIT_NOFILE, &saved);
    const int client = socket(AF_INET, SOCK_STREAM, 0);
    const rlimit starved{static_cast<rlim_t>(client + 1), saved.rlim_max};
    setrlimit(RLIMIT_NOFILE, &starved);
    connected(service->port(), client);
    std::this_thread::sleep_for(300ms); // nothing else while starved
    setrlimit(RLIMIT_NOFILE, &saved);
    ASSERT_TRUE(owner.pump_until_count(EVT_THREAD_LOG_ERROR, 1));
    EXPECT_THAT(errors()[0], HasSubstr("Too many open files"));
    const auto request = long_request("A7", "12", 100);
    ASSERT_EQ(write(client, request.data(), request.size()), ssize_t(request.size()));
    const timeval limit{10, 0};
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    unsigned char header[4] = {};
    EXPECT_EQ(recv(client, header, 4, MSG_WAITALL), 4) << "accepted once descriptors are free";
    EXPECT_GT(announced_length(header), 0u);
    close(client);
}

// With the usual limit of 1,024 descriptors, 2,000 clients that connect and stay take none of
// those the recording needs: the service holds as many as it serves at once and closes the others
// at once (one row says so), and serves a client once the flood has passed.
TEST_F(service_fixture, a_flood_of_clients_leaves_the_recording_its_descriptors) {
    rlimit saved{};
    getrlimit(RLIMIT_NOFILE, &saved);
    const rlimit usual{1024, saved.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &usual), 0);
    std::atomic<bool> flooding{true};
    std::atomic<int> failures{0};
    std::thread recorder([&] {
        for (int session = 0; flooding; ++session)
            try {
                sessions.current_session().open(root.path() + "/flood " + std::to_string(session));
                for (std::uint32_t dpp = 0; dpp < 10; ++dpp)
                    sessions.current_session().record_frame(test_frame(dpp), dpp);
                sessions.current_session().close();
            } catch (const std::exception&) {
                ++failures;
            }
    });
    for (int wave = 1; wave <= 3; ++wave) { // 2,001 clients, 667 at a time
        std::vector<int> clients(667);
        for (int& client : clients)
            client = connected(service->port());
        const auto held = [&] { // by the service: neither closed nor failed
            return std::count_if(clients.begin(), clients.end(), [](int client) {
                char byte;
                return recv(client, &byte, 1, MSG_PEEK | MSG_DONTWAIT) < 0 && errno == EAGAIN;
            });
        };
        EXPECT_TRUE(eventually([&] { return held() == 256; })) << held();
        for (int client : clients)
            close(client);
        ASSERT_TRUE(
            owner.pump_until([&] { return info_rows("Connection closed") == 256u * wave; }));
    }
    flooding = false;
    recorder.join();
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(failures, 0);
    data_client served(service->port());
    served.send(long_request("A7", "12", 100));
    EXPECT_TRUE(served.response());
    EXPECT_THAT(errors(), ElementsAre(AllOf(StartsWith("256 clients are connected"),
                                            HasSubstr("a connection from 127.0.0.1 is refused"))));
}

// The client tool believes no length beyond the largest frame's, holds only the bytes that came
// (its peak memory stays far below a length announced within that limit), and keeps its time
// limit while connecting to a listener that never accepts as well.
TEST(data_client, believes_no_length_beyond_a_frame_and_keeps_its_time_limit) {
    using boost::asio::ip::tcp;
    boost::asio::io_context events;
    const auto fetch_from = [](const tcp::acceptor& server, std::string timeout) {
        const std::string program = built_program("tresvik-client"),
                          port = std::to_string(server.local_endpoint().port());
        return std::vector<std::string>{program, "fetch", "--timeout", timeout, "--port",
                                        port,    "A7",    "12",        "1",     "/dev/null"};
    };
    for (const std::uint32_t announced : {0xFFFFFFFFu, 0x0F000000u}) {
        tcp::acceptor server(events, {boost::asio::ip::address_v4::loopback(), 0});
        child_process tool(fetch_from(server, "2"));
        tcp::socket peer = server.accept();
        std::vector<unsigned char> bytes(1004, 0);
        write_little_endian(bytes.data(), announced);
        boost::asio::write(peer, boost::asio::buffer(bytes));
        EXPECT_LT(peak_kib_until_ended(tool.pid()), 200 * 1024) << announced;
        EXPECT_EQ(WEXITSTATUS(tool.wait()), 1) << announced;
    }
    tcp::acceptor full(events, tcp::v4());
    full.bind({boost::asio::ip::address_v4::loopback(), 0});
    full.listen(0);
    const int queued = connected(full.local_endpoint().port()); // the one the backlog holds
    const program_run run = run_program(fetch_from(full, "1"));
    close(queued);
    EXPECT_EQ(std::to_string(run.exit_code) + " " + run.err,
              "1 tresvik-client: nothing listens at 127.0.0.1:" +
                  std::to_string(full.local_endpoint().port()) + ": Connection timed out\n");
}
