#include "service/data_service.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <random>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "recording/session_db.h"
#include "recording/session_format.h"
#include "service/data_client.h"
#include "service/data_protocol.h"
#include "tests/recording/raw_session.h"
#include "tests/support/event_recorder.h"
#include "tests/support/temp_home.h"

namespace {
using namespace std::chrono_literals;

cv::Mat png_image(const std::vector<unsigned char>& response) {
    return cv::imdecode(std::vector<unsigned char>(response.begin() + 4, response.end()),
                        cv::IMREAD_UNCHANGED);
}

// What the service sent for a stored frame must be what decoding the stored JPEG in colour gives.
bool same_pixels(const cv::Mat& a, const cv::Mat& b) {
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

cv::Mat colour_of(const std::string& jpeg) {
    return cv::imdecode(std::vector<unsigned char>(jpeg.begin(), jpeg.end()), cv::IMREAD_COLOR);
}

// An indexed session "A7 : 12" with two frames, and the service on a free port.
struct service_fixture : testing::Test {
    temp_dir root;
    event_recorder owner;
    std::unique_ptr<service_thread> service;
    const std::string session = root.path() + "/2021.03.04 12.05.33";
    const std::string big_jpeg = jpeg_of(test_frame(3, 1200, 1920));

    service_fixture() {
        write_raw_session(session, {{"0000000100", jpeg_of(test_frame(100))},
                                    {"0000000200", big_jpeg},
                                    {"dpp_end", "0000000200"},
                                    {"dpp_start", "0000000100"},
                                    {"session", "A7 : 12"},
                                    {"version", "1"}});
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
        for (int i = 0; i < 500 && service->port() == 0 && service->IsAlive(); ++i)
            std::this_thread::sleep_for(2ms);
    }
    void stop() {
        if (!service)
            return;
        service->stop();
        service->Wait();
        service.reset();
    }
    std::vector<wxString> errors() { return owner.texts(EVT_THREAD_LOG_ERROR); }
};
} // namespace

TEST_F(service_fixture, requests_get_the_frame_at_or_after_their_dpp_or_the_not_found_picture) {
    current_session.open(root.path() + "/live");
    current_session.record_frame(test_frame(5), 500);
    const struct {
        std::vector<unsigned char> request;
        std::string stored; // empty: the not-found picture
    } cases[] = {
        {long_request("A7", "12", 100), jpeg_of(test_frame(100))},
        {long_request("A7", "12", 150), big_jpeg},
        {long_request("A7", "", 499), jpeg_of(test_frame(5))},
        {long_request("whatever", "", 500), jpeg_of(test_frame(5))},
        {[] {
             const auto bytes = short_request(0x1a2b, 0, 500);
             return std::vector<unsigned char>(bytes.begin(), bytes.end());
         }(),
         jpeg_of(test_frame(5))},
        {long_request("A7", "12", 201), ""},
        {long_request("A7", "13", 100), ""},
        {long_request("", "", 501), ""},
    };
    data_client client(service->port());
    for (const auto& c : cases) {
        client.send(c.request);
        const auto response = client.response();
        ASSERT_TRUE(response);
        EXPECT_EQ(response->size(), 4 + announced_length(response->data()));
        const cv::Mat image = png_image(*response);
        if (c.stored.empty())
            EXPECT_EQ(image.type(), CV_8UC1) << "the not-found picture is grey";
        else
            EXPECT_TRUE(same_pixels(image, colour_of(c.stored)));
    }
    current_session.close();
    EXPECT_TRUE(errors().empty());
}

TEST_F(service_fixture, a_failed_fetch_answers_four_zero_bytes_and_the_connection_goes_on) {
    session_writer holder; // holds the folder's lock, as a recording would
    holder.open(session);
    data_client client(service->port());
    client.send(long_request("A7", "12", 100));
    EXPECT_EQ(client.response(), (std::vector<unsigned char>{0, 0, 0, 0}));
    ASSERT_FALSE(errors().empty());
    EXPECT_TRUE(errors()[0].Contains("LOCK"));
    holder.close();
    client.send(long_request("A7", "12", 100));
    const auto response = client.response();
    ASSERT_TRUE(response);
    EXPECT_GT(response->size(), 4u);
}

TEST_F(service_fixture, requests_of_any_other_size_close_the_connection_without_a_response) {
    for (std::size_t size : {15, 17, 32}) {
        data_client client(service->port());
        client.send(std::vector<unsigned char>(size, 0));
        EXPECT_TRUE(client.closed_without_reply()) << size;
    }
    owner.pump_until_count(EVT_THREAD_LOG_ERROR, 3);
    EXPECT_EQ(errors(), std::vector<wxString>(3, "Bad request. Size mismatch."));
    data_client(service->port()).close();
    ASSERT_TRUE(owner.pump_until_count(EVT_THREAD_LOG_INFO, 5));
    EXPECT_EQ(owner.texts(EVT_THREAD_LOG_INFO).back(), "Connection closed") << "a client that left";
    EXPECT_EQ(owner.texts(EVT_THREAD_LOG_INFO)[0], "Incoming connection from: 127.0.0.1");
}

TEST_F(service_fixture, random_bytes_get_a_response_only_as_whole_requests) {
    std::mt19937 random(9);
    for (int i = 0; i < 60; ++i) {
        // Larger sends arrive as a first receive of 1024 bytes, a long request.
        std::size_t size = i % 3 == 0 ? (i % 2 ? 16 : 1024) : 1 + random() % 1023;
        size = size == 16 && i % 3 ? 17 : size;
        std::vector<unsigned char> bytes(size);
        for (auto& byte : bytes)
            byte = static_cast<unsigned char>(random());
        data_client client(service->port());
        client.send(bytes);
        if (size == 16 || size == 1024) {
            const auto response = client.response();
            ASSERT_TRUE(response) << size;
            EXPECT_EQ(response->size(), 4 + announced_length(response->data()));
        } else {
            EXPECT_TRUE(client.closed_without_reply()) << size;
        }
    }
}

// One client vanishes while its large response is being sent, another never reads: a third is
// served all the same, and stopping with responses in flight touches nothing freed.
TEST_F(service_fixture, clients_that_vanish_or_never_read_hold_up_no_one) {
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
}

TEST_F(service_fixture, a_taken_port_is_reported_once_and_ends_only_the_service) {
    service_fixture::stop();
    boost::asio::io_context events;
    boost::asio::ip::tcp::acceptor taken(events, {boost::asio::ip::tcp::v4(), 0});
    const auto port = taken.local_endpoint().port();
    start(std::to_string(port));
    ASSERT_TRUE(owner.pump_until_count(EVT_THREAD_SERVICE_DOWN, 1));
    EXPECT_EQ(owner.texts(EVT_THREAD_SERVICE_DOWN),
              std::vector<wxString>{wxString::Format(
                  "bind: Address already in use (data service port %u)", unsigned(port))});
    service->Wait();
}

TEST_F(service_fixture, a_port_that_is_no_number_is_named_and_the_default_taken) {
    service_fixture::stop();
    start("12x");
    ASSERT_TRUE(owner.pump_until_count(EVT_THREAD_LOG_ERROR, 1));
    EXPECT_TRUE(errors()[0].Contains("\"12x\""));
    EXPECT_TRUE(service->port() == 12600 || !owner.texts(EVT_THREAD_SERVICE_DOWN).empty());
}

namespace {
// A client made of plain system calls: with every descriptor taken it needs no more than one.
int raw_connect(std::uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    const timeval limit{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    return fd;
}

// Takes every free descriptor but one; gives them back when it goes.
class descriptor_drought {
public:
    descriptor_drought() {
        getrlimit(RLIMIT_NOFILE, &saved_);
        rlimit low = saved_;
        const int lowest_free = open("/dev/null", O_RDONLY);
        taken_.push_back(lowest_free);
        low.rlim_cur = static_cast<rlim_t>(lowest_free + 1);
        setrlimit(RLIMIT_NOFILE, &low);
        close(taken_.back());
        taken_.pop_back();
    }
    ~descriptor_drought() {
        for (int fd : taken_)
            close(fd);
        setrlimit(RLIMIT_NOFILE, &saved_);
    }

private:
    rlimit saved_{};
    std::vector<int> taken_;
};
} // namespace

// With no descriptor left, accepting fails; once some are free again, the service serves.
TEST_F(service_fixture, accept_errors_pass_and_accepting_goes_on) {
    int client = -1;
    {
        descriptor_drought drought;
        client = raw_connect(service->port()); // the last descriptor: none left to accept with
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // nothing else while starved
    }
    const bool reported = owner.pump_until_count(EVT_THREAD_LOG_ERROR, 1);
    ASSERT_TRUE(reported);
    EXPECT_TRUE(errors()[0].Contains("Too many open files"));
    const auto request = long_request("A7", "12", 100);
    ASSERT_EQ(write(client, request.data(), request.size()), ssize_t(request.size()));
    unsigned char header[4] = {};
    EXPECT_EQ(recv(client, header, 4, MSG_WAITALL), 4) << "accepted once descriptors are free";
    EXPECT_GT(announced_length(header), 0u);
    close(client);
}
