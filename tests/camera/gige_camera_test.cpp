// The GigE Vision camera layer against tresvik-camsim on loopback. Runs inside the loopback-only
// network namespace (scripts/isolated.sh); each test process then moves into a namespace of its
// own, so that tests running side by side neither share the camera control port nor see each
// other's cameras.

#include <sched.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>

#include "camera/aravis_handles.h"
#include "camera/camera_access.h"
#include "camera/data_stream.h"
#include "camera/jai_sdk.h"
#include "harness/child_process.h"

namespace {

using std::chrono::steady_clock;
using testing::ElementsAre;
using testing::Key;

// Aravis gives up a control transaction after 5 tries of 500 ms (ms).
constexpr long long control_time_out_ms = 2500;
// Well under one control time-out (ms): the stop sequence of a vanished camera sends nothing.
constexpr long long prompt_stop_ms = 1500;
constexpr std::uint32_t width = 320;
constexpr std::uint32_t height = 240;
constexpr std::uint32_t speed = 8;
constexpr std::uint64_t mono8 = J_GVSP_PIX_MONO8;

long long milliseconds_since(steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(steady_clock::now() - start)
        .count();
}

// Set once the test process is in a network namespace of its own that holds only loopback, brought
// up; before any thread starts, as threads keep the namespace they were started in.
bool isolated = false;

// One tresvik-camsim process (320 x 240 at 50 fps), ready; later options override those. None
// when it does not get ready, and none started outside a private namespace. Going, it is killed
// with SIGKILL and reaped.
std::unique_ptr<child_process> start_camsim(std::vector<std::string> options = {}) {
    if (!isolated)
        return nullptr;
    options.insert(options.begin(), {built_program("tresvik-camsim"), "--width=320", "--height=240",
                                     "--fps=50", "--speed=8", "--serial=T1"});
    auto process = std::make_unique<child_process>(options);
    return process->line_after("tresvik-camsim ready") ? std::move(process) : nullptr;
}

// A data stream set up as the capture thread does it; going, every revoke gives back its block.
struct capture_stream : data_stream {
    capture_stream(CAM_HANDLE camera, std::uint32_t buffer_bytes, int buffer_count)
        : data_stream(camera, condition_mutex) {
        open();
        announce(buffer_count, buffer_bytes);
        create_condition();
        start();
    }
    ~capture_stream() { EXPECT_EQ(stop(), 0u) << "blocks not given back by their revoke"; }

    std::uint32_t wait(std::uint32_t timeout_ms) {
        std::uint32_t result = 12345;
        EXPECT_EQ(data_stream::wait(timeout_ms, result), J_ST_SUCCESS);
        return result;
    }

    // The next delivered buffer; none after a few time-outs.
    BUF_HANDLE next_frame() {
        for (int attempt = 0; attempt < 5; ++attempt)
            if (wait(1000) == J_COND_WAIT_SIGNAL)
                return delivered_buffer().value_or(nullptr);
        return nullptr;
    }

    std::uint64_t info(BUF_HANDLE buffer, int item, std::uint32_t bytes) {
        return bytes == 4 ? buffer_info<std::uint32_t>(buffer, item)
                          : buffer_info<std::uint64_t>(buffer, item);
    }

    static inline std::mutex condition_mutex;
};

class gige_camera_test : public testing::Test {
protected:
    static void SetUpTestSuite() {
        isolated = unshare(CLONE_NEWNET) == 0 && std::system("ip link set lo up") == 0;
    }

    void SetUp() override {
        ASSERT_TRUE(isolated) << "no private network namespace: run inside scripts/isolated.sh";
        ASSERT_TRUE(simulator) << "tresvik-camsim did not start";
        ASSERT_EQ(J_Factory_Open("", &factory), J_ST_SUCCESS);
    }
    void TearDown() override {
        if (camera != nullptr)
            J_Camera_Close(camera);
        J_Factory_Close(factory);
    }

    void open_only_camera() {
        const camera_list cameras = enumerate_cameras(factory);
        ASSERT_THAT(cameras, ElementsAre(Key("Tresvik-CamSim 127.0.0.1 [SocketDriver]")));
        ASSERT_EQ(J_Camera_Open(factory, cameras.begin()->second.c_str(), &camera, 0),
                  J_ST_SUCCESS);
    }

    // The capture thread's stop sequence, the camera closed after it; returns how long it took
    // in milliseconds.
    long long stop_and_close(std::optional<capture_stream>& stream) {
        const auto start = steady_clock::now();
        stream.reset();
        J_Camera_Close(camera);
        camera = nullptr;
        return milliseconds_since(start);
    }

    std::int64_t value_of(const char* node) {
        std::int64_t value = -1;
        EXPECT_EQ(J_Camera_GetValueInt64(camera, node, &value), J_ST_SUCCESS);
        return value;
    }

    std::unique_ptr<child_process> simulator = start_camsim();
    FACTORY_HANDLE factory = nullptr;
    CAM_HANDLE camera = nullptr;
};

// A second simulator needs an address of its own: on a taken one it does not start.
TEST_F(gige_camera_test, simulators_on_two_addresses_are_two_cameras_and_stop_cleanly_on_sigterm) {
    EXPECT_EQ(start_camsim({"--serial", "T2"}), nullptr);
    ASSERT_EQ(std::system("ip addr add 127.0.0.2/8 dev lo"), 0);
    const auto second = start_camsim({"--serial", "T2", "--address", "127.0.0.2"});
    ASSERT_TRUE(second);
    EXPECT_THAT(enumerate_cameras(factory),
                ElementsAre(Key("Tresvik-CamSim 127.0.0.1 [SocketDriver]"),
                            Key("Tresvik-CamSim 127.0.0.2 [SocketDriver]")));
    second->signal(SIGTERM);
    const int status = second->wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// While Aravis's heartbeat thread emits a device signal to a handler it holds the device; were
// the camera released meanwhile, that thread would finalize the device and join itself. At 50
// frames a second, half a second fills four buffers and loses the frames after them; frames too
// large for their buffers count as corrupt and are not delivered. The scene's buffers are larger
// than a frame, as the capture thread announces them when a camera's payload holds more than the
// pixels.
TEST_F(gige_camera_test, the_simulator_is_controlled_streams_the_scene_and_counts_lost_frames) {
    EXPECT_THAT(camera_layer_version(), testing::HasSubstr("Aravis 0.8"));
    ASSERT_NO_FATAL_FAILURE(open_only_camera());
    EXPECT_THAT((std::vector{value_of("Width"), value_of("Height"), value_of("PixelFormat"),
                             value_of("PayloadSize")}),
                ElementsAre(width, height, mono8, width * height));
    EXPECT_EQ(J_Camera_SetValueString(camera, "ExposureMode", "ContinuousPreset3"), J_ST_SUCCESS);
    EXPECT_NE(J_Camera_SetValueString(camera, "ExposureMode", "ContinuousPreset10"), J_ST_SUCCESS);
    EXPECT_NE(J_Camera_SetValueString(camera, "NoSuchNode", "Off"), J_ST_SUCCESS);
    ArvDevice* device = arv_camera_get_device(static_cast<gige::camera*>(camera)->arv);
    guint count = 0;
    guint* signals = g_signal_list_ids(ARV_TYPE_DEVICE, &count);
    for (guint i = 0; i < count; ++i)
        EXPECT_FALSE(g_signal_has_handler_pending(device, signals[i], 0, FALSE))
            << g_signal_name(signals[i]);
    EXPECT_GT(count, 0u);
    g_free(signals);
    std::optional<capture_stream> lost(std::in_place, camera, width * height, 4);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(lost->stream_info(STREAM_INFO_NUM_AWAIT_DELIVERY), 4u);
    EXPECT_EQ(lost->stream_info(STREAM_INFO_NUM_DELIVERED), 4u);
    EXPECT_GT(lost->stream_info(STREAM_INFO_NUM_UNDERRUN), 0u);
    ASSERT_EQ(lost->wait(1000), J_COND_WAIT_SIGNAL);
    EXPECT_EQ(lost->stream_info(STREAM_INFO_NUM_AWAIT_DELIVERY), 3u);
    lost.emplace(camera, width * height / 2, 4);
    EXPECT_EQ(lost->wait(1000), J_COND_WAIT_TIMEOUT);
    EXPECT_EQ(lost->stream_info(STREAM_INFO_NUM_DELIVERED), 0u);
    EXPECT_GT(lost->stream_info(STREAM_INFO_NUM_CORRUPT), 0u);
    lost.reset();
    capture_stream stream(camera, width * height + 4096, 8);
    BUF_HANDLE first = stream.next_frame();
    BUF_HANDLE second = stream.next_frame();
    ASSERT_TRUE(first && second);
    for (BUF_HANDLE buffer : {first, second})
        EXPECT_THAT((std::vector{stream.info(buffer, BUFFER_INFO_SIZE, 4),
                                 stream.info(buffer, BUFFER_INFO_WIDTH, 4),
                                 stream.info(buffer, BUFFER_INFO_HEIGHT, 4),
                                 stream.info(buffer, BUFFER_INFO_PIXELTYPE, 8),
                                 stream.info(buffer, BUFFER_INFO_NUM_PACKETS_MISSING, 4)}),
                    ElementsAre(width * height, width, height, mono8, 0u));
    EXPECT_GT(stream.info(second, BUFFER_INFO_TIMESTAMP, 8),
              stream.info(first, BUFFER_INFO_TIMESTAMP, 8));
    const std::uint64_t frames_between =
        (stream.info(second, BUFFER_INFO_BLOCKID, 8) - stream.info(first, BUFFER_INFO_BLOCKID, 8)) &
        0xFFFF;
    const auto moved = static_cast<std::uint32_t>(frames_between * speed);
    ASSERT_LT(moved, width);
    const auto* a = reinterpret_cast<const std::uint8_t*>(stream.info(first, BUFFER_INFO_BASE, 8));
    const auto* b = reinterpret_cast<const std::uint8_t*>(stream.info(second, BUFFER_INFO_BASE, 8));
    for (std::uint32_t y = 0; y < height; y += 3)
        for (std::uint32_t x = 0; x + moved < width; ++x)
            ASSERT_EQ(b[y * width + x], a[y * width + x + moved]) << x << "," << y;
    for (BUF_HANDLE buffer : {first, second})
        EXPECT_EQ(stream.requeue(buffer), J_ST_SUCCESS);
    EXPECT_GE(stream.stream_info(STREAM_INFO_NUM_DELIVERED), 2u);
    EXPECT_EQ(stream.stream_info(STREAM_INFO_NUM_CORRUPT), 0u);
}

// A vanished camera gives time-outs; Aravis's heartbeat reports it lost about 5.5 s after it
// vanished, and from then on nothing is sent to it. Back, it is found and streams again.
TEST_F(gige_camera_test, once_the_heartbeat_lost_the_camera_nothing_is_sent_until_it_is_back) {
    open_only_camera();
    std::optional<capture_stream> stream(std::in_place, camera, width * height, 8);
    ASSERT_NE(stream->next_frame(), nullptr);
    simulator.reset();
    const auto killed = steady_clock::now();
    std::uint32_t result = J_COND_WAIT_SIGNAL;
    for (int attempt = 0; attempt < 20 && result != J_COND_WAIT_TIMEOUT; ++attempt)
        result = stream->wait(200);
    EXPECT_EQ(result, J_COND_WAIT_TIMEOUT);
    std::this_thread::sleep_until(killed + std::chrono::seconds(7));
    const auto start = steady_clock::now();
    std::int64_t value = 0;
    EXPECT_NE(J_Camera_GetValueInt64(camera, "Width", &value), J_ST_SUCCESS);
    EXPECT_NE(J_Camera_SetValueString(camera, "ExposureMode", "Off"), J_ST_SUCCESS);
    EXPECT_NE(J_Camera_ExecuteCommand(camera, "AcquisitionStart"), J_ST_SUCCESS);
    STREAM_HANDLE another = nullptr;
    EXPECT_NE(J_Camera_CreateDataStream(camera, 0, &another), J_ST_SUCCESS);
    EXPECT_LT(milliseconds_since(start), 500);
    EXPECT_LT(stop_and_close(stream), prompt_stop_ms);
    ASSERT_TRUE(simulator = start_camsim());
    open_only_camera();
    stream.emplace(camera, width * height, 4);
    EXPECT_NE(stream->next_frame(), nullptr);
    stream.reset();
    EXPECT_EQ(value_of("Width"), width);
}

// One control time-out marks the camera lost: the rest of the stop sequence sends nothing. The
// stream and the camera of the vanished camera are still being released, waiting for device
// time-outs, when the process ends.
TEST_F(gige_camera_test, a_process_may_exit_while_a_vanished_camera_is_released) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto stop_and_exit = [this] {
        open_only_camera();
        std::optional<capture_stream> stream(std::in_place, camera, width * height, 8);
        EXPECT_NE(stream->next_frame(), nullptr);
        simulator.reset();
        const auto start = steady_clock::now();
        EXPECT_NE(J_Camera_ExecuteCommand(camera, "AcquisitionStop"), J_ST_SUCCESS);
        EXPECT_GE(milliseconds_since(start), control_time_out_ms);
        EXPECT_LT(stop_and_close(stream), prompt_stop_ms);
        std::exit(HasFailure() ? 1 : 0);
    };
    EXPECT_EXIT(stop_and_exit(), testing::ExitedWithCode(0), "");
}

} // namespace
