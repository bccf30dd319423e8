// The GigE Vision camera layer against tresvik-camsim and Aravis's own arv-fake-gv-camera-0.8 on
// loopback. Runs inside the loopback-only network namespace (scripts/isolated.sh); each test
// process then moves into a namespace of its own, so that tests running side by side neither share
// the camera control port nor see each other's cameras.

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>

#include "camera/camera_access.h"
#include "camera/grab_modes.h"
#include "harness/child_process.h"
#include "tests/support/private_network.h"

namespace {

using std::chrono::steady_clock;
using testing::ElementsAre;
using testing::Key;

constexpr std::int64_t width = 320, height = 240, speed = 8, mono8 = 0x01080001;

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

// The next frame, complete or not; null after a few seconds without one.
const camera_frame* next_frame(camera_stream& stream) {
    for (int attempt = 0; attempt < 5; ++attempt)
        if (const camera_frame* frame = stream.next_frame(std::chrono::seconds(1)))
            return frame;
    return nullptr;
}

class gige_camera_test : public testing::Test {
protected:
    static void SetUpTestSuite() { isolated = enter_private_network(); }

    void SetUp() override {
        ASSERT_TRUE(isolated) << "no private network namespace: run inside scripts/isolated.sh";
        ASSERT_TRUE(simulator) << "tresvik-camsim did not start";
    }

    void open_only_camera(const std::string& description) {
        const camera_list cameras = enumerate_cameras(*layer);
        ASSERT_THAT(cameras, ElementsAre(Key(description)));
        camera = layer->open(cameras.begin()->second);
        ASSERT_TRUE(camera);
    }

    std::unique_ptr<child_process> simulator = start_camsim();
    std::unique_ptr<camera_layer> layer = open_factory();
    std::unique_ptr<camera_device> camera;
};

const std::string camsim_description = "Tresvik-CamSim 127.0.0.1 [SocketDriver]";

// A second simulator needs an address of its own: on a taken one it does not start.
TEST_F(gige_camera_test, simulators_on_two_addresses_are_two_cameras_and_stop_cleanly_on_sigterm) {
    EXPECT_EQ(start_camsim({"--serial", "T2"}), nullptr);
    ASSERT_EQ(std::system("ip addr add 127.0.0.2/8 dev lo"), 0);
    const auto second = start_camsim({"--serial", "T2", "--address", "127.0.0.2"});
    ASSERT_TRUE(second);
    EXPECT_THAT(
        enumerate_cameras(*layer),
        ElementsAre(Key(camsim_description), Key("Tresvik-CamSim 127.0.0.2 [SocketDriver]")));
    second->signal(SIGTERM);
    const int status = second->wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// At 50 frames a second, half a second with four buffers that nobody gives back loses the frames
// after them (underruns); frames too large for their buffers fail. The scene scrolls by the
// frames between two frames.
TEST_F(gige_camera_test, the_simulator_streams_the_scene_and_its_counters_count) {
    EXPECT_THAT(camera_layer_version(), testing::HasSubstr("Aravis 0.8"));
    ASSERT_NO_FATAL_FAILURE(open_only_camera(camsim_description));
    EXPECT_THAT((std::vector{camera->integer("Width"), camera->integer("Height"),
                             camera->integer("PixelFormat"), camera->integer("PayloadSize")}),
                ElementsAre(width, height, mono8, width * height));
    EXPECT_TRUE(camera->set_text("ExposureMode", "ContinuousPreset3"));
    EXPECT_FALSE(camera->set_text("ExposureMode", "ContinuousPreset10"));
    EXPECT_FALSE(camera->set_text("NoSuchNode", "Off"));
    EXPECT_FALSE(camera->exposure_time() || camera->gain());
    const auto streaming = [&](int buffers, std::int64_t bytes) {
        camera->execute("AcquisitionStop");
        auto stream = camera->open_stream(buffers, static_cast<std::size_t>(bytes));
        EXPECT_TRUE(stream && camera->execute("AcquisitionStart"));
        return stream;
    };
    auto stream = streaming(4, width * height / 2);
    const camera_frame* cut = next_frame(*stream);
    ASSERT_TRUE(cut);
    EXPECT_FALSE(cut->complete);
    EXPECT_GT(stream->counters().failed, 0u)
        << "a frame too large for its buffer is counted failed";
    stream.reset();
    stream = streaming(4, width * height);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_GT(stream->counters().underruns, 0u);
    const camera_frame* frame = next_frame(*stream);
    ASSERT_TRUE(frame && frame->complete);
    const camera_frame first = *frame;
    const std::vector<std::uint8_t> a(frame->data, frame->data + frame->size);
    const camera_frame* second = next_frame(*stream);
    ASSERT_TRUE(second && second->complete);
    for (const camera_frame* f : {&first, second})
        EXPECT_THAT((std::vector<std::int64_t>{std::int64_t(f->size), f->width, f->height,
                                               f->pixel_format, f->missing_packets}),
                    ElementsAre(width * height, width, height, mono8, 0));
    EXPECT_GT(second->timestamp, first.timestamp);
    const auto moved =
        static_cast<std::int64_t>((second->block_id - first.block_id) & 0xFFFF) * speed;
    ASSERT_LT(moved, width);
    for (std::int64_t y = 0; y < height; y += 3)
        for (std::int64_t x = 0; x + moved < width; ++x)
            ASSERT_EQ(second->data[y * width + x], a[y * width + x + moved]) << x << "," << y;
    EXPECT_GE(stream->counters().completed, 2u);
    stream.reset();
    EXPECT_TRUE(camera->execute("AcquisitionStop"));
}

// A vanished camera is found not to answer well within a second; from then on nothing is sent
// to it and closing it waits for nothing. Back, it is found and streams again.
TEST_F(gige_camera_test, a_vanished_camera_is_found_quickly_and_closed_at_once_until_it_is_back) {
    ASSERT_NO_FATAL_FAILURE(open_only_camera(camsim_description));
    auto stream = camera->open_stream(8, width * height);
    ASSERT_TRUE(camera->execute("AcquisitionStart"));
    ASSERT_NE(next_frame(*stream), nullptr);
    EXPECT_TRUE(camera->answers());
    simulator.reset();
    auto start = steady_clock::now();
    EXPECT_FALSE(camera->answers());
    EXPECT_LT(milliseconds_since(start), 1000);
    start = steady_clock::now();
    EXPECT_FALSE(camera->integer("Width"));
    EXPECT_FALSE(camera->execute("AcquisitionStop"));
    EXPECT_FALSE(camera->open_stream(4, width * height));
    stream.reset();
    camera.reset();
    EXPECT_LT(milliseconds_since(start), 100);
    ASSERT_TRUE(simulator = start_camsim());
    ASSERT_NO_FATAL_FAILURE(open_only_camera(camsim_description));
    stream = camera->open_stream(4, width * height);
    ASSERT_TRUE(camera->execute("AcquisitionStart"));
    EXPECT_NE(next_frame(*stream), nullptr);
}

// The objects of a vanished camera are still being released, waiting for device time-outs,
// when the process ends.
TEST_F(gige_camera_test, a_process_may_exit_while_a_vanished_camera_is_released) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto stop_and_exit = [this] {
        open_only_camera(camsim_description);
        auto stream = camera->open_stream(8, width * height);
        simulator.reset();
        EXPECT_FALSE(camera->answers());
        stream.reset();
        camera.reset();
        std::exit(HasFailure() ? 1 : 0);
    };
    EXPECT_EXIT(stop_and_exit(), testing::ExitedWithCode(0), "");
}

// Aravis's fake camera draws the same diagonal pattern in every format; each one's frames, once
// grey, are the Mono8 frame give or take demosaicing.
TEST_F(gige_camera_test, aravis_fake_camera_frames_of_each_format_become_plausible_grey) {
    simulator.reset();
    child_process fake({"/usr/bin/arv-fake-gv-camera-0.8", "-i", "127.0.0.1", "-s", "GV01"});
    const std::string description = "GV01 127.0.0.1 [SocketDriver]";
    camera_list cameras;
    for (int attempt = 0; attempt < 20 && cameras.empty(); ++attempt)
        cameras = enumerate_cameras(*layer);
    ASSERT_THAT(cameras, ElementsAre(Key(testing::EndsWith("127.0.0.1 [SocketDriver]"))));
    camera = layer->open(cameras.begin()->second);
    ASSERT_TRUE(camera);
    EXPECT_TRUE(camera->exposure_time() && camera->gain()) << "by ExposureTimeAbs and GainRaw";
    std::optional<cv::Scalar> mono_mean;
    for (const char* format :
         {"Mono8", "Mono16", "BayerRG8", "BayerBG8", "BayerGR8", "BayerGB8", "RGB8"}) {
        SCOPED_TRACE(format);
        ASSERT_TRUE(camera->set_text("PixelFormat", format));
        frame_buffer buffer(*camera);
        auto stream = camera->open_stream(4, camera->integer("PayloadSize").value_or(0));
        ASSERT_TRUE(camera->execute("AcquisitionStart"));
        const camera_frame* frame = next_frame(*stream);
        ASSERT_TRUE(frame && frame->complete);
        ASSERT_TRUE(buffer.store(*frame));
        camera->execute("AcquisitionStop");
        cv::Scalar mean, spread;
        cv::meanStdDev(buffer.image, mean, spread);
        EXPECT_GT(spread[0], 10) << "a picture, not a flat field";
        if (!mono_mean)
            mono_mean = mean;
        EXPECT_NEAR(mean[0], (*mono_mean)[0], 12);
    }
}

} // namespace
