#include "recording/write_thread.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include <boost/asio.hpp>
#include <gmock/gmock.h>

#include "harness/child_process.h"
#include "recording/coordinate_client.h"
#include "recording/odometer_decoder.h"
#include "tests/recording/raw_session.h"
#include "tests/support/event_recorder.h"
#include "tests/support/temp_home.h"

namespace {
using namespace std::chrono_literals;
using steady = std::chrono::steady_clock;

// The odometer's end of a pty pair, raw from the start like a serial line, so that no byte sent
// before the recorder has set the line up is taken for a terminal's control character.
struct odometer_line {
    int master = -1, slave = -1;
    std::string path;
    odometer_line() {
        termios raw{};
        cfmakeraw(&raw);
        EXPECT_EQ(openpty(&master, &slave, nullptr, &raw, nullptr), 0);
        path = ptsname(master);
    }
    ~odometer_line() {
        close(master);
        close(slave);
    }
    void send(std::uint32_t count) {
        const auto bytes = encode_format_b(count);
        EXPECT_EQ(write(master, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
};

std::vector<std::string> with_program(const char* program, std::vector<std::string> options) {
    options.insert(options.begin(), built_program(program));
    return options;
}

// The coordinate server simulator on a loopback port.
struct coord_sim : child_process {
    std::string port = line_after("listening on 127.0.0.1:").value_or("");
    explicit coord_sim(const std::vector<std::string>& options)
        : child_process(with_program("tresvik-coord-sim", options)) {}
};

// The newest camera frame as the capture side would keep it: each call is a new frame.
std::uint64_t next_frame(shared_frame& frame, std::uint64_t) {
    static std::atomic<std::uint64_t> timestamp{0};
    frame = std::make_shared<const cv::Mat>(16, 16, CV_8UC1, cv::Scalar(77));
    return ++timestamp;
}

std::string unused_port() {
    boost::asio::io_context events;
    boost::asio::ip::tcp::acceptor probe(events, {boost::asio::ip::tcp::v4(), 0});
    return std::to_string(probe.local_endpoint().port());
}

struct recorder_fixture : testing::Test {
    temp_dir root;
    session_store sessions;
    odometer_line odometer;
    event_recorder owner;
    std::unique_ptr<write_thread> thread;

    void start(const std::string& port_path, const std::string& server_port,
               frame_snapshot frames = next_frame, const char* server = "127.0.0.1") {
        thread = std::make_unique<write_thread>(
            &owner, sessions,
            recording_settings{port_path, server, server_port, root.path(), "правый"},
            std::move(frames));
        ASSERT_EQ(thread->Run(), wxTHREAD_NO_ERROR);
    }
    void stop() {
        thread->stop();
        thread->Wait();
        thread.reset();
    }
    ~recorder_fixture() override {
        if (thread)
            stop();
    }
    session_writer& current() { return sessions.current_session(); }

    // The rows of the type that hold the text.
    std::size_t rows(wxEventType type, const wxString& text) {
        const auto all = owner.texts(type);
        return std::count_if(all.begin(), all.end(),
                             [&](const wxString& row) { return row.Contains(text); });
    }
    bool wait_for(wxEventType type, const wxString& text, std::size_t count = 1) {
        return owner.pump_until([&] { return rows(type, text) >= count; });
    }
    std::vector<std::filesystem::directory_entry> folders() const {
        std::vector<std::filesystem::directory_entry> found(
            std::filesystem::directory_iterator(root.path()), {});
        std::sort(found.begin(), found.end());
        return found;
    }
};
} // namespace

// A server that answers at once is polled at most every 20 ms (each poll costs the recorder's
// thread about what a frame does), yet often enough to see a new session within a few cm: the
// 50th request, which the server drops, comes after about a second. Replies name the open
// session; a new session closes it, and one announced before any count opens nothing. Stopping
// while counts and replies stream in reports nothing.
TEST_F(recorder_fixture, counts_record_frames_and_coordinate_sessions_name_and_close_them) {
    coord_sim server({"--port", "0", "--session-start", "5", "--text-a", "A7", "--orientation",
                      "-1", "--drop-every", "50"});
    start(odometer.path, server.port);
    ASSERT_TRUE(server.line_after("connection from"));
    const auto connected = steady::now();
    ASSERT_TRUE(server.line_after("dropping the connection"));
    EXPECT_GT(steady::now() - connected, 900ms);
    EXPECT_LT(steady::now() - connected, 2500ms);
    ASSERT_TRUE(wait_for(EVT_THREAD_LOG_INFO, "New session started (id: A7 : 5)"));
    EXPECT_TRUE(folders().empty());
    odometer.send(9);
    odometer.send(10);
    ASSERT_TRUE(wait_for(EVT_THREAD_RECORD_STATUS, L"ДПП[7]: 10 Записано кадров: 2"));
    ASSERT_TRUE(owner.pump_until([&] { return current().session_code() == L"A7 : 5"; }));
    server.signal(SIGUSR1);
    ASSERT_TRUE(wait_for(EVT_THREAD_LOG_INFO, "New session started (id: A7 : 6)"));
    std::atomic<bool> sending{true};
    std::thread line([&] {
        for (std::uint32_t count = 11; sending; ++count) {
            odometer.send(count);
            std::this_thread::sleep_for(1ms);
        }
    });
    EXPECT_TRUE(owner.pump_until([&] { return current().session_code() == L"A7 : 6"; }));
    stop();
    sending = false;
    line.join();
    EXPECT_EQ(owner.texts(EVT_THREAD_LOG_ERROR), std::vector<wxString>{"End of file"});
    server.signal(SIGTERM);
    EXPECT_EQ(server.wait(), 0);
    ASSERT_EQ(folders().size(), 2u);
    const raw_entries first = read_raw_session(folders()[0].path());
    EXPECT_EQ(first.at("orientation"), "-1");
    EXPECT_EQ(first.at("side"), "правый");
    EXPECT_EQ(first.size(), 10u) << "eight metadata keys and two frames";
    EXPECT_EQ(read_raw_session(folders()[1].path()).at("dpp_start"), "0000000011");
}

// An odometer simulator that is stopped and started again under the same device name, as a USB
// adapter drops out and comes back, and a coordinate server that refuses, then accepts and hangs
// up at once: each failure is one row, retried about once a second without spinning, while
// recording goes on.
TEST_F(recorder_fixture, failing_peers_are_retried_calmly_and_reported_once) {
    const std::string port = unused_port();
    temp_dir device;
    const std::string link = device.path() + "/odometer";
    const auto odometer_sim = [&](const char* count) {
        return with_program("tresvik-odometer-sim",
                            {"--pty", "--link", link, "--format", "b", "--rate", "0.2", "--profile",
                             "stop", "--start", count});
    };
    std::optional<child_process> sim(std::in_place, odometer_sim("500"));
    ASSERT_EQ(sim->line_after("odometer on "), link);
    std::clock_t cpu = std::clock(); // the processor time of all the test's threads
    start(link, port);
    ASSERT_TRUE(wait_for(EVT_THREAD_RECORD_STATUS, L"ДПП[7]: 500 Записано кадров: 1"));
    const auto stopped = steady::now();
    sim->signal(SIGTERM);
    EXPECT_EQ(sim->wait(), 0);
    EXPECT_LT(steady::now() - stopped, 2500ms) << "a stop is not held up by the packet rate";
    EXPECT_FALSE(std::filesystem::is_symlink(link)) << "the link goes with the simulator";
    ASSERT_TRUE(wait_for(EVT_THREAD_RECORD_STATUS, L"ДПП: нет связи с портом " + link));
    std::this_thread::sleep_for(2500ms);
    EXPECT_LT(std::clock() - cpu, CLOCKS_PER_SEC) << "refused connects and reopens must not spin";
    EXPECT_EQ(rows(EVT_THREAD_LOG_INFO, "Connect to coordinate server. Ok."), 0u);

    cpu = std::clock();
    const auto served_from = steady::now();
    coord_sim server({"--port", port, "--drop-every", "1"});
    sim.emplace(odometer_sim("3"));
    ASSERT_TRUE(wait_for(EVT_THREAD_LOG_INFO, L"Последовательный порт: " + link, 2));
    ASSERT_TRUE(wait_for(EVT_THREAD_RECORD_STATUS, L"ДПП[7]: 3 Записано кадров: 1"));
    int connections = 0;
    while (steady::now() < served_from + 3600ms)
        if (const auto printed = server.line(100ms))
            connections += printed->rfind("connection from", 0) == 0;
    EXPECT_GE(connections, 3);
    EXPECT_LE(connections, 5) << "about one connection a second";
    EXPECT_LT(std::clock() - cpu, CLOCKS_PER_SEC);
    EXPECT_EQ(rows(EVT_THREAD_LOG_INFO, "Connect to coordinate server. Ok."), 1u);
    EXPECT_THAT(owner.texts(EVT_THREAD_LOG_ERROR),
                testing::UnorderedElementsAre("End of file", "Error reading serial serial_port.",
                                              "open: No such file or directory"));
    stop();
    EXPECT_EQ(folders().size(), 2u) << "the lower count after the gap starts a new session";
    sim->signal(SIGINT);
    EXPECT_EQ(sim->wait(), 0);
    EXPECT_FALSE(std::filesystem::is_symlink(link));
}

// A server that keeps its connections open but stops answering after two replies on each: every
// time the reply timeout runs out the connection is given up and made anew, with one row for all
// of it, and a session change reaches the client on a new connection.
TEST_F(recorder_fixture, a_server_that_stops_answering_is_reported_once_and_reconnected) {
    coord_sim server({"--port", "0", "--stall-after", "2"});
    session_writer session;
    boost::asio::io_context events;
    auto client = std::make_shared<coordinate_client>(events, &owner, session, "127.0.0.1",
                                                      server.port, "левый", 300ms);
    client->start();
    std::thread loop([&events] { events.run(); });
    for (int connection = 0; connection < 2; ++connection) {
        EXPECT_TRUE(server.line_after("stalling the connection after 2 replies"));
        EXPECT_TRUE(server.line_after("connection from")) << "reconnected";
    }
    server.signal(SIGUSR1);
    EXPECT_TRUE(wait_for(EVT_THREAD_LOG_INFO, "New session started (id: CX1 : 2)"));
    boost::asio::post(events, [client] { client->stop(); });
    loop.join();
    EXPECT_THAT(
        owner.strings(EVT_THREAD_LOG_ERROR),
        testing::ElementsAre("Coordinate server: no reply within 0.3 s, connection closed."));
}

// Replies come in pieces, cut short, dropped, with random bytes where a client must ignore them.
TEST_F(recorder_fixture, dropped_short_and_garbled_replies_of_named_sessions_are_ridden_out) {
    coord_sim server({"--port", "0", "--mode", "named", "--names", "L12,L13", "--change-every", "1",
                      "--drop-every", "3", "--short-every", "4", "--split-replies", "--garbage"});
    start(odometer.path, server.port);
    ASSERT_TRUE(wait_for(EVT_THREAD_LOG_ERROR, "End of file")) << "a lost connection";
    ASSERT_TRUE(wait_for(EVT_THREAD_LOG_INFO, "New session started (id: CX1 : L12)"));
    ASSERT_TRUE(wait_for(EVT_THREAD_LOG_INFO, "New session started (id: CX1 : L13)"));
    EXPECT_EQ(rows(EVT_THREAD_LOG_INFO, "New session started"), 2u)
        << "a reply is read whole before it is evaluated";
    odometer.send(5);
    ASSERT_TRUE(wait_for(EVT_THREAD_RECORD_STATUS, L"ДПП[7]: 5 Записано кадров: 1"));
    EXPECT_TRUE(thread->IsAlive());
}

// Recording goes on while the server's name does not resolve. Nobody must take a dead recorder
// for a recording one: whatever ends the thread closes the session. A port that cannot be opened
// at the start ends it before any session.
TEST_F(recorder_fixture, an_error_that_ends_the_thread_is_reported_and_closes_the_session) {
    start(root.path() + "/no-such-port", unused_port());
    ASSERT_TRUE(wait_for(EVT_THREAD_LOG_ERROR, "open: No such file or directory"));
    thread->Wait();
    EXPECT_TRUE(folders().empty());
    int calls = 0;
    const auto snapshot = [&calls](shared_frame& frame, std::uint64_t known) {
        if (++calls == 2)
            throw 42; // beyond what the recorder handles
        return next_frame(frame, known);
    };
    start(odometer.path, "12500", snapshot, "no-such-server.invalid");
    ASSERT_TRUE(wait_for(EVT_THREAD_LOG_ERROR, "CoordServer resolve error"));
    odometer.send(1);
    ASSERT_TRUE(wait_for(EVT_THREAD_RECORD_STATUS, L"ДПП[7]: 1 Записано кадров: 1"));
    EXPECT_TRUE(current().is_open());
    odometer.send(2);
    ASSERT_TRUE(wait_for(EVT_THREAD_LOG_ERROR, "Unknown exception in write thread"));
    thread->Wait();
    EXPECT_FALSE(current().is_open());
}
