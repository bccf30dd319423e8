#include "service/data_service.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <random>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include <gmock/gmock.h>
#include <opencv2/imgcodecs.hpp>

#include "harness/child_process.h"
#include "recording/session_db.h"
#include "service/data_client.h"
#include "service/data_protocol.h"
#include "tests/recording/raw_session.h"
#include "tests/support/event_recorder.h"
#include "tests/support/temp_home.h"

namespace {
using namespace std::chrono_literals;
using testing::AllOf;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::StartsWith;

// An indexed session "A7 : 12" with a large frame at 200, and the service on a free port.
struct service_fixture : testing::Test {
    temp_dir root;
    event_recorder owner;
    std::unique_ptr<service_thread> service;
    const std::string session = root.path() + "/2021.03.04 12.05.33";
    const std::string big_jpeg = jpeg_of(test_frame(3, 1200, 1920));

    service_fixture() {
        raw_entries entries = recorded_session();
        entries["0000000200"] = big_jpeg;
        entries["0000000250"] = jpeg_declaring(32000, 32000);
        write_raw_session(session, entries);
        set_database_root(root.path(), [](const std::string&) {});
        start("0");
    }
    ~service_fixture() override {
        stop();
        set_database_root("", [](const std::string&) {});
    }
    void start(const wxString& port) {
        service = std::make_unique<service_thread>(&owner, port);
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
};
} // namespace

// A fetch that fails (a recording holds the folder) answers four zero bytes, is reported, and the
// connection goes on. The client tool fails on no image (length 0) and on a file it cannot write,
// and tells the size and geometry of a PNG it saved. A stored frame comes as the PNG of what
// decoding its JPEG in colour gives; anything else as the grey not-found picture, with an error
// row for a frame that declares more pixels than a camera gives. A second code
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
    session_writer holder;
    holder.open(session);
    client.send(long_request("A7", "12", 100));
    EXPECT_EQ(client.response(), (std::vector<unsigned char>{0, 0, 0, 0}));
    EXPECT_THAT(fetch({"A7", "12", "100", png}), AllOf(StartsWith("1 "), HasSubstr("length 0")));
    holder.close();
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
    current_session.open(root.path() + "/live");
    current_session.record_frame(test_frame(5), 500);
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
    current_session.close();
    EXPECT_THAT(errors(), ElementsAre(HasSubstr("LOCK"), HasSubstr("LOCK"),
                                      HasSubstr("DPP 250 of session A7 : 12 is not decoded: it "
                                                "declares 32000 x 32000 pixels")));
}

// Whatever the bytes of a whole request, the response is whole. One client vanishes while its
// large response is being sent, others never read: one more is served all the same, and stopping
// with responses in flight touches nothing freed. A port setting that is no number is reported;
// the rest of the program goes on without the service (a taken port: the main window's test).
TEST_F(service_fixture, only_whole_requests_get_a_response_and_no_client_holds_up_the_others) {
    std::mt19937 random(9);
    for (std::size_t size : {15, 16, 17, 32, 1023, 1024}) {
        std::vector<unsigned char> bytes(size);
        std::generate(bytes.begin(), bytes.end(),
                      [&] { return static_cast<unsigned char>(random()); });
        data_client client(service->port());
        client.send(bytes);
        const bool whole = size == 16 || size == 1024;
        EXPECT_TRUE(whole ? bool(client.response()) : client.closed_without_reply()) << size;
    }
    ASSERT_TRUE(owner.pump_until_count(EVT_THREAD_LOG_ERROR, 4));
    EXPECT_EQ(errors(), std::vector<std::string>(4, "Bad request. Size mismatch."));
    ASSERT_TRUE(owner.pump_until_count(EVT_THREAD_LOG_INFO, 8));
    const auto rows = owner.texts(EVT_THREAD_LOG_INFO);
    EXPECT_EQ(rows[0], "Incoming connection from: 127.0.0.1");
    EXPECT_EQ(std::count(rows.begin(), rows.end(), "Connection closed"), 2) << "clients that left";
    std::vector<std::unique_ptr<data_client>> idle;
    for (int i = 0; i < 3; ++i) {
        idle.push_back(std::make_unique<data_client>(service->port()));
        idle.back()->send(long_request("A7", "12", 200));
    }
    idle[0]->close();
    for (int i = 0; i < 3; ++i) {
        data_client served(service->port());
        served.send(long_request("A7", "12", 100));
        ASSERT_TRUE(served.response(5s)) << i;
    }
    stop();
    const std::size_t before = errors().size();
    start("12x");
    ASSERT_TRUE(owner.pump_until_count(EVT_THREAD_LOG_ERROR, before + 1));
    EXPECT_THAT(errors()[before], HasSubstr("\"12x\""));
    EXPECT_TRUE(service->port() == 12600 || !owner.texts(EVT_THREAD_SERVICE_DOWN).empty());
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
    sockaddr_in address{AF_INET, htons(service->port()), {htonl(INADDR_LOOPBACK)}, {}};
    connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address);
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
