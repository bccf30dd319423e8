#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <pty.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include <boost/asio.hpp>
#include <wx/fileconf.h>
#include <wx/sstream.h>

#include "recording/coordinate_protocol.h"
#include "recording/odometer_decoder.h"
#include "recording/write_thread.h"
#include "tests/recording/raw_session.h"
#include "tests/support/child_process.h"
#include "tests/support/event_recorder.h"
#include "tests/support/temp_home.h"

namespace {
using namespace std::chrono_literals;
using boost::asio::ip::tcp;

// The odometer's end of a pty pair; the recorder opens the other end by its path. Raw from the
// start like a serial line, so that no byte sent before the recorder has set the line up is taken
// for a terminal's control character.
struct odometer_line {
    int master = -1, slave = -1;
    std::string path;
    odometer_line() { plug(); }
    ~odometer_line() {
        unplug();
        if (slave >= 0)
            close(slave);
    }
    void plug() {
        char name[128];
        termios raw{};
        cfmakeraw(&raw);
        EXPECT_EQ(openpty(&master, &slave, name, &raw, nullptr), 0);
        path = name;
    }
    void send(std::uint32_t count) {
        const auto bytes = encode_format_b(count);
        EXPECT_EQ(write(master, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    void unplug() {
        if (master >= 0)
            close(master);
        master = -1;
    }
};

// A coordinate server on loopback that answers every request with the reply the test sets.
class coordinate_server {
public:
    coordinate_server() : acceptor_(events_, tcp::endpoint(tcp::v4(), 0)) {
        accept();
        runner_ = std::thread([this] { events_.run(); });
    }
    ~coordinate_server() {
        events_.stop();
        runner_.join();
    }
    std::string port() const { return std::to_string(acceptor_.local_endpoint().port()); }
    void set_reply(const coord_reply& reply) {
        std::lock_guard lock(mutex_);
        reply_ = encode_coord_reply(reply);
    }
    // Closes every connection after reading its first request, as a broken server does.
    std::atomic<bool> hang_up{false};
    std::atomic<int> accepted{0};
    std::atomic<int> requests{0};

private:
    void accept() {
        acceptor_.async_accept([this](boost::system::error_code error, tcp::socket socket) {
            if (error)
                return;
            ++accepted;
            serve(std::make_shared<tcp::socket>(std::move(socket)));
            accept();
        });
    }
    void serve(std::shared_ptr<tcp::socket> socket) {
        auto request = std::make_shared<coord_request_bytes>();
        boost::asio::async_read(
            *socket, boost::asio::buffer(*request), [this, socket, request](auto error, auto) {
                if (error || hang_up)
                    return;
                ++requests;
                auto reply = std::make_shared<coord_reply_bytes>(current_reply());
                boost::asio::async_write(*socket, boost::asio::buffer(*reply),
                                         [this, socket, reply](auto e, auto) {
                                             if (!e)
                                                 serve(socket);
                                         });
            });
    }
    coord_reply_bytes current_reply() {
        std::lock_guard lock(mutex_);
        return reply_;
    }

    boost::asio::io_context events_;
    tcp::acceptor acceptor_;
    std::thread runner_;
    std::mutex mutex_;
    coord_reply_bytes reply_{};
};

coord_reply numbered(std::uint32_t number) {
    coord_reply reply;
    reply.mode = 1;
    reply.session_number = number;
    reply.orientation = -1;
    reply.text_a = "A7";
    reply.text_b = std::to_string(number);
    return reply;
}

// The newest camera frame as the capture side would keep it: each call is a new frame.
std::uint64_t next_frame(cv::Mat& image, std::uint64_t) {
    static std::atomic<std::uint64_t> timestamp{0};
    image = cv::Mat(16, 16, CV_8UC1, cv::Scalar(77));
    return ++timestamp;
}

struct recorder_fixture : testing::Test {
    temp_dir root;
    odometer_line odometer;
    event_recorder owner;
    std::unique_ptr<write_thread> thread;

    void start(const std::string& port_path, const std::string& server_port,
               frame_snapshot frames = next_frame, const char* server = "127.0.0.1") {
        wxStringInputStream empty("");
        wxFileConfig config(empty);
        config.Write("dpp_port", wxString(port_path));
        config.Write("coordinate_server_address", server);
        config.Write("coordinate_server_port", wxString(server_port));
        config.Write("write_path", wxString(root.path()));
        config.Write("side", L"правый");
        thread = std::make_unique<write_thread>(&owner, config, std::move(frames));
        ASSERT_EQ(thread->Run(), wxTHREAD_NO_ERROR);
    }
    void stop() {
        if (!thread)
            return;
        thread->stop();
        thread->Wait();
        thread.reset();
    }
    ~recorder_fixture() override { stop(); }

    // Waits until a row of the type holding the text has arrived.
    bool wait_for(wxEventType type, const wxString& text, std::chrono::milliseconds limit = 5s) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < until) {
            for (const auto& row : owner.texts(type))
                if (row.Contains(text))
                    return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }
    std::vector<std::string> folders() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(root.path()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

double process_cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
           usage.ru_stime.tv_usec / 1e6;
}

std::size_t count_of(const std::vector<wxString>& rows, const wxString& text) {
    return static_cast<std::size_t>(std::count(rows.begin(), rows.end(), text));
}

std::string unused_port() {
    boost::asio::io_context events;
    tcp::acceptor probe(events, tcp::endpoint(tcp::v4(), 0));
    return std::to_string(probe.local_endpoint().port());
}
} // namespace

TEST_F(recorder_fixture, counts_record_frames_and_coordinate_sessions_name_and_close_them) {
    coordinate_server server;
    server.set_reply(numbered(5));
    start(odometer.path, server.port());
    ASSERT_TRUE(wait_for(EVT_THREAD_LOG_INFO, L"Последовательный порт: " + odometer.path));
    ASSERT_TRUE(wait_for(EVT_THREAD_LOG_INFO, "New session started (id: A7 : 5)"));
    odometer.send(9);
    odometer.send(10);
    ASSERT_TRUE(wait_for(EVT_THREAD_RECORD_STATUS, L"ДПП[7]: 10 Записано кадров: 2"));
    std::this_thread::sleep_for(200ms); // a few replies now write the metadata
    server.set_reply(numbered(6));
    ASSERT_TRUE(wait_for(EVT_THREAD_LOG_INFO, "New session started (id: A7 : 6)"));
    std::this_thread::sleep_for(1100ms); // a new second: the next session gets its own name
    odometer.send(11);
    ASSERT_TRUE(wait_for(EVT_THREAD_RECORD_STATUS, L"ДПП[7]: 11 Записано кадров: 1"));
    stop();
    ASSERT_EQ(folders().size(), 2u);
    const raw_entries first = read_raw_session(root.path() + "/" + folders()[0]);
    EXPECT_EQ(first.at("session"), "A7 : 5");
    EXPECT_EQ(first.at("orientation"), "-1");
    EXPECT_EQ(first.at("side"), "правый");
    EXPECT_EQ(first.at("version"), "1");
    EXPECT_EQ(first.at("dpp_start"), "0000000009");
    EXPECT_EQ(first.at("dpp_end"), "0000000010");
    EXPECT_EQ(first.count("0000000010"), 1u);
    EXPECT_EQ(first.size(), 10u) << "eight metadata keys and two frames";
    const raw_entries second = read_raw_session(root.path() + "/" + folders()[1]);
    EXPECT_EQ(second.at("dpp_start"), "0000000011");
    EXPECT_EQ(second.count("0000000010"), 0u);
}

// A USB adapter that drops out and comes back under the same name (here a link to a new pty).
TEST_F(recorder_fixture, a_vanished_odometer_is_reopened_and_recording_goes_on) {
    coordinate_server server;
    temp_dir device;
    const std::string link = device.path() + "/odometer";
    std::filesystem::create_symlink(odometer.path, link);
    start(link, server.port());
    odometer.send(500);
    ASSERT_TRUE(wait_for(EVT_THREAD_RECORD_STATUS, L"ДПП[7]: 500 Записано кадров: 1"));
    odometer.unplug();
    close(odometer.slave);
    std::filesystem::remove(link);
    ASSERT_TRUE(wait_for(EVT_THREAD_RECORD_STATUS, L"ДПП: нет связи с портом " + link));
    std::this_thread::sleep_for(2500ms); // reopens fail meanwhile
    odometer.plug();
    std::filesystem::create_symlink(odometer.path, link);
    const wxString opened = L"Последовательный порт: " + link;
    ASSERT_TRUE(
        owner.pump_until([&] { return count_of(owner.texts(EVT_THREAD_LOG_INFO), opened) == 2; }));
    odometer.send(3);
    ASSERT_TRUE(wait_for(EVT_THREAD_RECORD_STATUS, L"ДПП[7]: 3 Записано кадров: 1"));
    const auto errors = owner.texts(EVT_THREAD_LOG_ERROR);
    EXPECT_EQ(count_of(errors, "Error reading serial serial_port."), 1u);
    EXPECT_EQ(count_of(errors, "open: No such file or directory"), 1u) << "once, not per second";
    stop();
    EXPECT_EQ(folders().size(), 2u) << "the lower count after the gap starts a new session";
}

TEST_F(recorder_fixture, ending_with_an_error_while_recording_closes_the_session) {
    coordinate_server server;
    int calls = 0;
    start(odometer.path, server.port(), [&calls](cv::Mat& image, std::uint64_t known) {
        if (++calls == 2)
            throw 42; // beyond what the recorder handles
        return next_frame(image, known);
    });
    odometer.send(1);
    ASSERT_TRUE(wait_for(EVT_THREAD_RECORD_STATUS, L"ДПП[7]: 1 Записано кадров: 1"));
    EXPECT_TRUE(current_session.is_open());
    odometer.send(2);
    ASSERT_TRUE(wait_for(EVT_THREAD_LOG_ERROR, "Unknown exception in write thread"));
    thread->Wait();
    EXPECT_FALSE(current_session.is_open());
}

TEST_F(recorder_fixture, a_missing_port_ends_the_thread_with_the_open_error) {
    start(root.path() + "/no-such-port", unused_port());
    ASSERT_TRUE(wait_for(EVT_THREAD_LOG_ERROR, "open"));
    thread->Wait();
    EXPECT_TRUE(folders().empty());
}

TEST_F(recorder_fixture, a_refused_server_is_retried_calmly_and_found_when_it_comes) {
    const std::string port = unused_port();
    const double cpu_before = process_cpu_seconds();
    start(odometer.path, port);
    std::this_thread::sleep_for(2s);
    EXPECT_LT(process_cpu_seconds() - cpu_before, 1.0) << "refused connects must not spin";
    EXPECT_TRUE(owner.texts(EVT_THREAD_LOG_ERROR).empty());
    boost::asio::io_context events;
    tcp::acceptor late(events, tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"),
                                             std::uint16_t(std::stoi(port))));
    EXPECT_TRUE(wait_for(EVT_THREAD_LOG_INFO, "Connect to coordinate server. Ok.", 4s));
}

// Each lost connection used to reconnect at once with two rows: a tight loop and a log without end.
TEST_F(recorder_fixture, a_server_that_hangs_up_is_reconnected_calmly_with_one_row_a_minute) {
    coordinate_server server;
    server.hang_up = true;
    const double cpu_before = process_cpu_seconds();
    start(odometer.path, server.port());
    std::this_thread::sleep_for(3500ms);
    odometer.send(9);
    ASSERT_TRUE(wait_for(EVT_THREAD_RECORD_STATUS, L"ДПП[7]: 9 Записано кадров: 1"));
    EXPECT_LT(process_cpu_seconds() - cpu_before, 1.0);
    EXPECT_GE(server.accepted, 3);
    EXPECT_LE(server.accepted, 5) << "about one connection a second";
    EXPECT_EQ(owner.texts(EVT_THREAD_LOG_ERROR), std::vector<wxString>{"End of file"});
    EXPECT_EQ(count_of(owner.texts(EVT_THREAD_LOG_INFO), "Connect to coordinate server. Ok."), 1u);
}

// Each poll costs the recorder's thread about what a frame does.
TEST_F(recorder_fixture, a_server_that_answers_at_once_is_polled_at_most_fifty_times_a_second) {
    coordinate_server server;
    server.set_reply(numbered(3));
    start(odometer.path, server.port());
    ASSERT_TRUE(wait_for(EVT_THREAD_LOG_INFO, "New session started (id: A7 : 3)"));
    const int before = server.requests;
    std::this_thread::sleep_for(1s);
    EXPECT_GE(server.requests - before, 20);
    EXPECT_LE(server.requests - before, 52);
}

TEST_F(recorder_fixture, a_server_name_that_does_not_resolve_leaves_recording_going) {
    start(odometer.path, "12500", next_frame, "no-such-server.invalid");
    ASSERT_TRUE(wait_for(EVT_THREAD_LOG_ERROR, "CoordServer resolve error"));
    odometer.send(4);
    ASSERT_TRUE(wait_for(EVT_THREAD_RECORD_STATUS, L"ДПП[7]: 4 Записано кадров: 1"));
    EXPECT_TRUE(thread->IsAlive());
    stop();
    EXPECT_EQ(folders().size(), 1u);
}

TEST_F(recorder_fixture, dropped_short_and_garbled_replies_are_reported_and_recording_goes_on) {
    child_process server({built_program("tresvik-coord-sim"), "--port", "0", "--drop-every", "3",
                          "--short-every", "4", "--garbage"});
    const auto port = server.line_after("listening on 127.0.0.1:");
    ASSERT_TRUE(port);
    start(odometer.path, *port);
    ASSERT_TRUE(wait_for(EVT_THREAD_LOG_ERROR, "End of file", 5s)) << "a lost connection";
    odometer.send(5);
    ASSERT_TRUE(wait_for(EVT_THREAD_RECORD_STATUS, L"ДПП[7]: 5 Записано кадров: 1"));
    EXPECT_TRUE(thread->IsAlive());
}

TEST_F(recorder_fixture, a_new_session_before_any_count_opens_nothing) {
    coordinate_server server;
    server.set_reply(numbered(7));
    start(odometer.path, server.port());
    ASSERT_TRUE(wait_for(EVT_THREAD_LOG_INFO, "New session started (id: A7 : 7)"));
    server.set_reply(numbered(8));
    ASSERT_TRUE(wait_for(EVT_THREAD_LOG_INFO, "New session started (id: A7 : 8)"));
    EXPECT_FALSE(current_session.is_open());
    EXPECT_TRUE(folders().empty());
    stop();
}

TEST_F(recorder_fixture, stopping_while_counts_and_replies_stream_in_reports_no_error) {
    coordinate_server server;
    server.set_reply(numbered(3));
    start(odometer.path, server.port());
    ASSERT_TRUE(wait_for(EVT_THREAD_LOG_INFO, L"Последовательный порт: "));
    std::atomic<bool> sending{true};
    std::thread line([&] {
        for (std::uint32_t count = 1; sending; ++count) {
            odometer.send(count);
            std::this_thread::sleep_for(1ms);
        }
    });
    ASSERT_TRUE(wait_for(EVT_THREAD_RECORD_STATUS, L"ДПП[7]: 200 "));
    stop();
    sending = false;
    line.join();
    EXPECT_TRUE(owner.texts(EVT_THREAD_LOG_ERROR).empty()) << owner.texts(EVT_THREAD_LOG_ERROR)[0];
}
