// tresvik-camsim losing packets, seen through Aravis's own stream on loopback. Runs inside the
// loopback-only network namespace (scripts/isolated.sh); each test process then moves into a
// namespace of its own, so that tests running side by side do not share the control port.

#include <arpa/inet.h>
#include <arv.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "harness/child_process.h"
#include "tests/support/private_network.h"
#include "tools/camsim/frame_stamp.h"
#include "tools/camsim/scene.h"

namespace {

constexpr int width = 640, height = 480, speed = 8;
constexpr std::size_t frames = 30;

struct grab_result {
    std::size_t complete = 0; // frames that arrived whole and show the scene where they should
    std::size_t failed = 0;   // frames Aravis gave up
    guint64 resent = 0;       // packets the camera sent again
};

// The frame's number from its stamp, and every pixel beside the stamp as the scene has it there.
bool shows_the_scene(ArvBuffer* buffer) {
    size_t size = 0;
    const void* data = arv_buffer_get_data(buffer, &size);
    if (size != std::size_t{width} * height)
        return false;
    cv::Mat frame(height, width, CV_8UC1, const_cast<void*>(data));
    const std::optional<std::uint32_t> number = read_frame_stamp(frame);
    if (!number || *number == 0)
        return false;
    cv::Mat expected(height, width, CV_8UC1);
    scene_renderer(width, height).draw_mono8(expected.data, (*number - 1) * speed, 1.0);
    frame(cv::Rect(0, 0, frame_stamp_width, frame_stamp_height))
        .copyTo(expected(cv::Rect(0, 0, frame_stamp_width, frame_stamp_height)));
    return cv::countNonZero(frame != expected) == 0;
}

template <typename T> using owned = std::unique_ptr<T, decltype(&g_object_unref)>;

// Grabs the frames from the only camera with packet resend as asked, a buffer for each, so that
// none is missed for want of one, and checks them afterwards.
grab_result grab(ArvGvStreamPacketResend resend) {
    GError* error = nullptr;
    owned<ArvCamera> camera(arv_camera_new(nullptr, &error), g_object_unref);
    EXPECT_TRUE(camera) << (error ? error->message : "");
    if (!camera)
        return {};
    owned<ArvStream> stream(arv_camera_create_stream(camera.get(), nullptr, nullptr, &error),
                            g_object_unref);
    EXPECT_TRUE(stream && ARV_IS_GV_STREAM(stream.get()));
    if (!stream)
        return {};
    // A frame waits up to a second for its packets, as a loaded machine may hold up either side.
    g_object_set(stream.get(), "packet-resend", resend, "socket-buffer",
                 ARV_GV_STREAM_SOCKET_BUFFER_AUTO, "frame-retention", guint(1000000), nullptr);
    const gint payload = arv_camera_get_payload(camera.get(), nullptr);
    for (std::size_t i = 0; i < frames; ++i)
        arv_stream_push_buffer(stream.get(), arv_buffer_new(payload, nullptr));
    arv_camera_start_acquisition(camera.get(), nullptr);
    std::vector<owned<ArvBuffer>> filled;
    while (filled.size() < frames) {
        ArvBuffer* buffer = arv_stream_timeout_pop_buffer(stream.get(), 2000000);
        if (buffer == nullptr)
            break;
        filled.emplace_back(buffer, g_object_unref);
    }
    arv_camera_stop_acquisition(camera.get(), nullptr);
    grab_result result;
    arv_gv_stream_get_statistics(ARV_GV_STREAM(stream.get()), &result.resent, nullptr);
    for (const owned<ArvBuffer>& buffer : filled) {
        const bool whole = arv_buffer_get_status(buffer.get()) == ARV_BUFFER_STATUS_SUCCESS;
        result.complete += whole && shows_the_scene(buffer.get());
        result.failed += !whole;
    }
    return result;
}

class camsim_resend : public testing::Test {
protected:
    static void SetUpTestSuite() { isolated = enter_private_network(); }
    void SetUp() override {
        ASSERT_TRUE(isolated) << "no private network namespace: run inside scripts/isolated.sh";
        simulator = std::make_unique<child_process>(
            std::vector<std::string>{built_program("tresvik-camsim"), "--width=640", "--height=480",
                                     "--fps=50", "--speed=8", "--stamp", "--lose-packets=10"});
        ASSERT_TRUE(simulator->line_after("tresvik-camsim ready"));
    }

    static inline bool isolated = false;
    std::unique_ptr<child_process> simulator;
};

TEST_F(camsim_resend, lost_packets_come_again_when_asked_for) {
    const grab_result result = grab(ARV_GV_STREAM_PACKET_RESEND_ALWAYS);
    EXPECT_EQ(result.complete, frames) << result.failed << " failed";
    EXPECT_GT(result.resent, 0u);
}

TEST_F(camsim_resend, frames_are_lost_when_nobody_asks) {
    const grab_result result = grab(ARV_GV_STREAM_PACKET_RESEND_NEVER);
    EXPECT_GT(result.failed, frames / 2);
    EXPECT_EQ(result.resent, 0u);
}

// The status the camera answers a command with, its body given as 32-bit words; 0xFFFF when no
// answer came within a second.
std::uint16_t status_of(std::uint8_t command, std::vector<std::uint32_t> words) {
    std::vector<std::uint8_t> request = {0x42, 1, 0, command, 0, std::uint8_t(4 * words.size()),
                                         0,    1};
    for (std::uint32_t word : words)
        for (int shift = 24; shift >= 0; shift -= 8)
            request.push_back(static_cast<std::uint8_t>(word >> shift));
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const timeval second{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &second, sizeof second);
    sockaddr_in camera{};
    camera.sin_family = AF_INET;
    camera.sin_port = htons(3956);
    camera.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sendto(fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&camera),
           sizeof camera);
    std::uint8_t answer[600];
    const ssize_t got = recv(fd, answer, sizeof answer, 0);
    close(fd);
    return got >= 8 ? static_cast<std::uint16_t>(answer[0] << 8 | answer[1]) : 0xFFFF;
}

// Reads past the register map or the GenICam description are refused, and the camera answers on;
// while a controller holds the camera, nobody else may write to it, and is told so at once.
TEST_F(camsim_resend, memory_outside_the_camera_and_writes_of_others_are_refused) {
    constexpr std::uint8_t read_memory = 0x84, write_register = 0x82;
    EXPECT_EQ(status_of(read_memory, {0xfff0, 32}), 0x8003);
    EXPECT_EQ(status_of(read_memory, {0x110000, 4}), 0x8003);
    EXPECT_EQ(status_of(read_memory, {0x48, 32}), 0);
    const std::vector<std::uint32_t> packet_delay = {0x0d08, 0};
    {
        owned<ArvCamera> controller(arv_camera_new(nullptr, nullptr), g_object_unref);
        ASSERT_TRUE(controller);
        EXPECT_EQ(status_of(write_register, packet_delay), 0x8006);
    }
    EXPECT_EQ(status_of(write_register, packet_delay), 0);
}

} // namespace
