#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <wx/fileconf.h>
#include <wx/sstream.h>

#include "camera/capture_thread.h"
#include "camera/gige_receive.h"
#include "camera/grab_modes.h"
#include "log/thread_events.h"
#include "tests/camera/fake_jai_sdk.h"
#include "tests/support/event_recorder.h"

namespace {
using fake_sdk::step;

std::unique_ptr<wxFileConfig> config_of(const char* text) {
    wxStringInputStream input(wxString::FromUTF8(text));
    return std::make_unique<wxFileConfig>(input);
}

// Ends the process with a message instead of hanging when a stop does not return.
template <typename Stop> void stop_with_watchdog(Stop stop) {
    std::atomic<bool> stopped{false};
    std::thread watchdog([&] {
        if (!fake_sdk::wait_until([&] { return stopped.load(); }, std::chrono::seconds(30))) {
            std::fputs("capture stop hangs\n", stderr);
            std::abort();
        }
    });
    stop();
    stopped = true;
    watchdog.join();
}

std::vector<std::uint8_t> ramp(std::size_t size, unsigned start) {
    std::vector<std::uint8_t> pixels(size);
    for (std::size_t i = 0; i < size; ++i)
        pixels[i] = static_cast<std::uint8_t>(start + i);
    return pixels;
}

class capture_test : public testing::Test {
protected:
    void SetUp() override {
        fake_sdk::reset();
        fake_sdk::set_real_timeouts(false);
        ASSERT_EQ(J_Factory_Open("", &factory_), J_ST_SUCCESS);
        open_camera({"INT=>SD::cam0", "Model", "127.0.0.1", 8, 4, fake_sdk::mono8});
        config_ = config_of("");
    }

    void TearDown() override {
        stop();
        J_Camera_Close(handle_);
        J_Factory_Close(factory_);
        EXPECT_EQ(fake_sdk::misuses(), std::vector<std::string>{});
    }

    void open_camera(const fake_sdk::camera_setup& setup) {
        if (handle_)
            J_Camera_Close(handle_);
        camera_ = fake_sdk::add_camera(setup);
        ASSERT_EQ(J_Camera_Open(factory_, setup.id.c_str(), &handle_, 0), J_ST_SUCCESS);
    }

    void start() {
        grab_ = std::make_unique<continuous_grab>(&events_, *config_, handle_,
                                                  [this] { return now_.load(); });
    }

    void stop() {
        stop_with_watchdog([this] { grab_.reset(); });
    }

    bool waiting() {
        return fake_sdk::wait_until([] { return fake_sdk::waiters() == 1; });
    }

    // Delivers one frame and waits until the thread has requeued its buffer and reported it.
    void deliver(const std::vector<std::uint8_t>& pixels, std::uint64_t timestamp,
                 std::uint32_t missing = 0) {
        const std::size_t stats = events_.strings(EVT_THREAD_STREAM_STATS).size();
        ASSERT_TRUE(camera_.deliver_frame(pixels, timestamp, missing));
        ASSERT_TRUE(events_.pump_until_count(EVT_THREAD_STREAM_STATS, stats + 1));
    }

    std::string last_stats() { return events_.strings(EVT_THREAD_STREAM_STATS).back(); }

    void expect_everything_released() {
        const fake_sdk::resources open = fake_sdk::open_resources();
        EXPECT_EQ(open.streams, 0u);
        EXPECT_EQ(open.announced_buffers, 0u);
        EXPECT_EQ(open.conditions, 0u);
        EXPECT_EQ(open.events, 0u);
        EXPECT_FALSE(camera_.acquiring());
    }

    FACTORY_HANDLE factory_ = nullptr;
    CAM_HANDLE handle_ = nullptr;
    fake_sdk::fake_camera camera_{""};
    std::unique_ptr<wxFileConfig> config_;
    std::atomic<std::int64_t> now_{1000};
    event_recorder events_;
    std::unique_ptr<continuous_grab> grab_;
};

TEST_F(capture_test, FirstFrameLineComesWithTheTenthFrame) {
    start();
    ASSERT_TRUE(waiting());
    for (unsigned frame = 1; frame <= 9; ++frame)
        deliver(ramp(32, frame), 100 + frame, frame);
    EXPECT_TRUE(events_.strings(EVT_THREAD_NEW_FRAME).empty());
    cv::Mat image;
    EXPECT_EQ(grab_->buffer().copy_out(image), 109u);
    deliver(ramp(32, 10), 110, 3);
    EXPECT_EQ(events_.strings(EVT_THREAD_NEW_FRAME),
              std::vector<std::string>{"timestamp: 110 missing packets: 3 queued buffers: 19"});
    EXPECT_EQ(grab_->buffer().copy_out(image), 110u);
    EXPECT_EQ(std::vector<std::uint8_t>(image.data, image.data + 32), ramp(32, 10));
    for (unsigned frame = 11; frame <= 20; ++frame)
        deliver(ramp(32, frame), 100 + frame);
    EXPECT_EQ(events_.strings(EVT_THREAD_NEW_FRAME).size(), 2u);
    EXPECT_EQ(events_.strings(EVT_THREAD_STREAM_STATS).size(), 20u);
    EXPECT_EQ(camera_.queued_buffers(), 20u);
}

TEST_F(capture_test, ReadsTheImageRecordItemsInOrder) {
    start();
    ASSERT_TRUE(waiting());
    deliver(ramp(32, 0), 1);
    std::vector<std::string> reads;
    for (const auto& call : fake_sdk::calls())
        if (call.rfind("J_DataStream_GetBufferInfo", 0) == 0)
            reads.push_back(call.substr(call.find(' ') + 1));
    EXPECT_EQ(reads, (std::vector<std::string>{"0", "1", "10", "11", "20", "3", "1001", "4", "12",
                                               "13", "14", "16"}));
}

TEST_F(capture_test, StatisticsArePostedOnTimeOutWithFpsFallingOverTime) {
    start();
    ASSERT_TRUE(waiting());
    fake_sdk::script_wait(J_COND_WAIT_TIMEOUT);
    ASSERT_TRUE(events_.pump_until_count(EVT_THREAD_STREAM_STATS, 1));
    EXPECT_EQ(last_stats(), "delivered: 0 lost: 0 await: 0 corrupt: 0 fps: 0");
    camera_.set_stream_info(STREAM_INFO_NUM_DELIVERED, 50);
    camera_.set_stream_info(STREAM_INFO_NUM_UNDERRUN, 2);
    camera_.set_stream_info(STREAM_INFO_NUM_AWAIT_DELIVERY, 1);
    camera_.set_stream_info(STREAM_INFO_NUM_CORRUPT, 3);
    now_ = 1005;
    fake_sdk::script_wait(J_COND_WAIT_TIMEOUT);
    ASSERT_TRUE(events_.pump_until_count(EVT_THREAD_STREAM_STATS, 2));
    EXPECT_EQ(last_stats(), "delivered: 50 lost: 2 await: 1 corrupt: 3 fps: 10");
    now_ = 1010;
    fake_sdk::script_wait(J_COND_WAIT_TIMEOUT);
    ASSERT_TRUE(events_.pump_until_count(EVT_THREAD_STREAM_STATS, 3));
    EXPECT_EQ(last_stats(), "delivered: 50 lost: 2 await: 1 corrupt: 3 fps: 5");
    EXPECT_TRUE(events_.strings(EVT_THREAD_LOG_ERROR).empty());
}

TEST_F(capture_test, RealTimeOutPostsStatistics) {
    fake_sdk::set_real_timeouts(true);
    start();
    ASSERT_TRUE(events_.pump_until_count(EVT_THREAD_STREAM_STATS, 1));
    EXPECT_EQ(last_stats(), "delivered: 0 lost: 0 await: 0 corrupt: 0 fps: 0");
}

TEST_F(capture_test, FpsIsZeroInTheFirstSecond) {
    start();
    ASSERT_TRUE(waiting());
    deliver(ramp(32, 0), 1);
    deliver(ramp(32, 0), 2);
    deliver(ramp(32, 0), 3);
    EXPECT_EQ(last_stats(), "delivered: 3 lost: 0 await: 0 corrupt: 0 fps: 0");
    now_ = 1001;
    deliver(ramp(32, 0), 4);
    EXPECT_EQ(last_stats(), "delivered: 4 lost: 0 await: 0 corrupt: 0 fps: 4");
    now_ = 1003;
    deliver(ramp(32, 0), 5);
    EXPECT_EQ(last_stats(), "delivered: 5 lost: 0 await: 0 corrupt: 0 fps: 1");
}

TEST_F(capture_test, Rotate180TurnsTheImage) {
    config_ = config_of("rotate180=1\n");
    start();
    ASSERT_TRUE(waiting());
    deliver(ramp(32, 0), 1);
    cv::Mat image;
    grab_->buffer().copy_out(image);
    std::vector<std::uint8_t> turned = ramp(32, 0);
    std::reverse(turned.begin(), turned.end());
    EXPECT_EQ(std::vector<std::uint8_t>(image.data, image.data + 32), turned);
    EXPECT_EQ(fake_sdk::count_calls("J_Image_Rotate"), 1u);
}

TEST_F(capture_test, WithoutRotate180TheImageIsAsTheCameraSentIt) {
    start();
    ASSERT_TRUE(waiting());
    deliver(ramp(32, 0), 1);
    cv::Mat image;
    grab_->buffer().copy_out(image);
    EXPECT_EQ(std::vector<std::uint8_t>(image.data, image.data + 32), ramp(32, 0));
    EXPECT_EQ(fake_sdk::count_calls("J_Image_Rotate"), 0u);
}

TEST_F(capture_test, SixteenBitFramesAreConvertedToTheirHighByte) {
    open_camera({"INT=>SD::cam16", "Model16", "127.0.0.2", 8, 4, fake_sdk::mono16});
    config_ = config_of("rotate180=1\n");
    start();
    ASSERT_TRUE(waiting());
    EXPECT_EQ(grab_->buffer().frame_bytes(), 64);
    std::vector<std::uint8_t> frame(64);
    for (std::size_t i = 0; i < 32; ++i) {
        frame[2 * i] = 0x5A;
        frame[2 * i + 1] = static_cast<std::uint8_t>(i);
    }
    deliver(frame, 1);
    cv::Mat image;
    grab_->buffer().copy_out(image);
    ASSERT_EQ(image.total(), 32u);
    for (std::size_t i = 0; i < 32; ++i)
        EXPECT_EQ(image.data[i], 31 - i) << i;
}

// The camera is 8 x 4 Mono8: one frame is 32 bytes.
TEST_F(capture_test, BuffersHoldThePayloadSizeOrAtLeastOneFrame) {
    const struct {
        std::optional<std::int64_t> payload_size; // none: the camera has no such feature
        std::size_t buffer_bytes;
    } cases[] = {
        {std::nullopt, 32}, {56, 56}, {32, 32}, {31, 32}, {-1, 32}, {std::int64_t{1} << 32, 32},
    };
    for (const auto& c : cases) {
        if (c.payload_size)
            camera_.set_int("PayloadSize", *c.payload_size);
        start();
        ASSERT_TRUE(waiting());
        EXPECT_EQ(fake_sdk::open_resources().announced_bytes,
                  capture_thread::buffer_count * c.buffer_bytes)
            << "PayloadSize " << c.payload_size.value_or(0);
        stop();
    }
}

// Each line of 8 pixels is followed by 4 padding bytes, and the frame by 8 bytes of chunk data.
TEST_F(capture_test, PaddedLinesAreStoredWithoutTheirPadding) {
    open_camera({"INT=>SD::padded", "Padded", "127.0.0.5", 8, 4, fake_sdk::mono8, 4});
    camera_.set_int("PayloadSize", 4 * 12 + 8);
    start();
    ASSERT_TRUE(waiting());
    std::vector<std::uint8_t> payload;
    for (unsigned line = 0; line < 4; ++line) {
        const std::vector<std::uint8_t> pixels = ramp(8, 8 * line + 1);
        payload.insert(payload.end(), pixels.begin(), pixels.end());
        payload.insert(payload.end(), 4, 0xEE);
    }
    payload.insert(payload.end(), 8, 0xCC);
    deliver(payload, 1);
    cv::Mat image;
    grab_->buffer().copy_out(image);
    EXPECT_EQ(std::vector<std::uint8_t>(image.data, image.data + 32), ramp(32, 1));
}

// The fake reads the memory of the buffers still announced when the stream closes, so under
// AddressSanitizer a block freed after its failed revoke ends the test.
TEST_F(capture_test, ABlockWhoseRevokeFailsIsFreedOnlyAfterTheStreamIsClosed) {
    start();
    ASSERT_TRUE(waiting());
    deliver(ramp(32, 0), 1);
    fake_sdk::fail(step::revoke_buffer, 3, 2);
    stop();
    EXPECT_EQ(fake_sdk::count_calls("J_DataStream_RevokeBuffer"),
              std::size_t{capture_thread::buffer_count});
    expect_everything_released();
}

TEST_F(capture_test, OverlayIsTheSideReadWhenTheModeIsMade) {
    config_ = config_of("side=правый\n");
    start();
    config_->Write("side", "левый");
    EXPECT_EQ(grab_->overlay_text().utf8_string(), "правый");
    stop();
    config_ = config_of("");
    start();
    EXPECT_EQ(grab_->overlay_text().utf8_string(), "левый");
}

TEST_F(capture_test, ExitDuringARunningCaptureRunsTheStopSequence) {
    start();
    ASSERT_TRUE(waiting());
    deliver(ramp(32, 0), 1);
    stop();
    events_.dispatch();
    EXPECT_EQ(events_.strings(EVT_THREAD_LOG_INFO),
              std::vector<std::string>{"Condition wait exit"});
    EXPECT_TRUE(events_.strings(EVT_THREAD_LOG_ERROR).empty());
    std::vector<std::string> expected = {"J_Camera_ExecuteCommand AcquisitionStop",
                                         "J_DataStream_UnRegisterEvent",
                                         "J_Event_Close",
                                         "J_Event_CloseCondition",
                                         "J_DataStream_StopAcquisition",
                                         "J_DataStream_FlushQueue 0",
                                         "J_DataStream_FlushQueue 1"};
    expected.insert(expected.end(), capture_thread::buffer_count, "J_DataStream_RevokeBuffer");
    expected.push_back("J_DataStream_Close");
    const std::vector<std::string> all = fake_sdk::calls();
    ASSERT_GT(all.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(all.end() - expected.size(), all.end()), expected);
    EXPECT_EQ(fake_sdk::count_calls("J_Event_ExitCondition"), 1u);
    expect_everything_released();
}

// Each test runs in a process of its own (ctest), so this one sees the process's first warning.
TEST_F(capture_test, ASmallSocketReceiveBufferIsReportedOncePerProcessAsInformation) {
    const std::uint64_t limit = read_rmem_max();
    if (limit == 0 || limit > 64 * 1024 * 1024)
        GTEST_SKIP() << "receive buffer limit unknown or too large to exceed cheaply: " << limit;
    const auto width = static_cast<std::int64_t>(limit / 2 + 1);
    open_camera({"INT=>SD::wide", "Wide", "127.0.0.4", width, 2, fake_sdk::mono8});
    for (int capture = 0; capture < 2; ++capture) {
        start();
        ASSERT_TRUE(waiting());
        stop();
    }
    events_.dispatch();
    const std::string warning =
        receive_buffer_warning(limit, static_cast<std::uint64_t>(width) * 2);
    ASSERT_FALSE(warning.empty());
    const std::vector<std::string> info = events_.strings(EVT_THREAD_LOG_INFO);
    EXPECT_EQ(std::count(info.begin(), info.end(), warning), 1) << testing::PrintToString(info);
    EXPECT_TRUE(events_.strings(EVT_THREAD_LOG_ERROR).empty());
}

struct setup_failure {
    const char* name;
    step at;
    unsigned skip;
    const char* error;
};

template <typename Failure> std::string name_of(const testing::TestParamInfo<Failure>& info) {
    return info.param.name;
}

class capture_setup_failure : public capture_test,
                              public testing::WithParamInterface<setup_failure> {};

TEST_P(capture_setup_failure, IsLoggedReleasesEverythingAndTheCameraCanBeCapturedAgain) {
    fake_sdk::fail(GetParam().at, GetParam().skip);
    start();
    ASSERT_TRUE(events_.pump_until_count(EVT_THREAD_LOG_ERROR, 1));
    EXPECT_EQ(events_.strings(EVT_THREAD_LOG_ERROR), std::vector<std::string>{GetParam().error});
    stop();
    EXPECT_EQ(fake_sdk::count_calls("J_Event_WaitForCondition"), 0u);
    expect_everything_released();
    events_.rows.clear();
    start();
    ASSERT_TRUE(waiting());
    deliver(ramp(32, 7), 42);
    cv::Mat image;
    EXPECT_EQ(grab_->buffer().copy_out(image), 42u);
    stop();
    expect_everything_released();
}

INSTANTIATE_TEST_SUITE_P(
    each_step, capture_setup_failure,
    testing::Values(
        setup_failure{"stream_count", step::stream_count, 0, "Error getting number of streams"},
        setup_failure{"create_stream", step::create_stream, 0, "Error creating data stream"},
        setup_failure{"set_stream_param", step::set_stream_param, 0,
                      "Error setting stream parameter"},
        setup_failure{"first_announce", step::announce_buffer, 0, "Error announce buffer"},
        setup_failure{"eighth_announce", step::announce_buffer, 7, "Error announce buffer"},
        setup_failure{"first_queue", step::queue_buffer, 0, "Error queue buffer"},
        setup_failure{"last_queue", step::queue_buffer, 19, "Error queue buffer"},
        setup_failure{"create_condition", step::create_condition, 0, "Error create condition"},
        setup_failure{"register_event", step::register_event, 0, "Error register event"},
        setup_failure{"start_stream", step::start_stream, 0, "error start acquisition"},
        setup_failure{"acquisition_start", step::acquisition_start, 0,
                      "Error starting acquisition."}),
    name_of<setup_failure>);

struct loop_failure {
    const char* name;
    step at;
    unsigned skip;
    const char* error;
};

class capture_loop_failure : public capture_test,
                             public testing::WithParamInterface<loop_failure> {};

TEST_P(capture_loop_failure, IsLoggedAndReleasesEverything) {
    start();
    ASSERT_TRUE(waiting());
    fake_sdk::fail(GetParam().at, GetParam().skip);
    ASSERT_TRUE(camera_.deliver_frame(ramp(32, 0), 1));
    ASSERT_TRUE(events_.pump_until_count(EVT_THREAD_LOG_ERROR, 1));
    EXPECT_EQ(events_.strings(EVT_THREAD_LOG_ERROR), std::vector<std::string>{GetParam().error});
    stop();
    expect_everything_released();
    EXPECT_TRUE(events_.strings(EVT_THREAD_LOG_INFO).empty());
}

INSTANTIATE_TEST_SUITE_P(
    each_read, capture_loop_failure,
    testing::Values(
        loop_failure{"first_buffer_info", step::buffer_info, 0, "Error getting buffer info"},
        loop_failure{"last_buffer_info", step::buffer_info, 11, "Error getting buffer info"},
        loop_failure{"first_stream_info", step::stream_info, 0, "Error getting stream info"},
        loop_failure{"last_stream_info", step::stream_info, 3, "Error getting stream info"}),
    name_of<loop_failure>);

TEST_F(capture_test, WaitResultsOtherThanFramesAndTimeOutsEndTheCapture) {
    const std::vector<std::pair<std::uint32_t, J_STATUS_TYPE>> waits = {
        {J_COND_WAIT_TIMEOUT, J_ST_ERROR}, {J_COND_WAIT_ERROR, J_ST_SUCCESS}, {7, J_ST_SUCCESS}};
    const std::vector<std::string> errors = {"Error waiting for event", "Condition wait error",
                                             "Unknown error in capture thread loop"};
    for (std::size_t i = 0; i < waits.size(); ++i) {
        events_.rows.clear();
        start();
        ASSERT_TRUE(waiting());
        fake_sdk::script_wait(waits[i].first, waits[i].second);
        ASSERT_TRUE(events_.pump_until_count(EVT_THREAD_LOG_ERROR, 1));
        EXPECT_EQ(events_.strings(EVT_THREAD_LOG_ERROR), std::vector<std::string>{errors[i]});
        stop();
        expect_everything_released();
        EXPECT_TRUE(events_.strings(EVT_THREAD_STREAM_STATS).empty());
    }
}

std::string hold_name(const testing::TestParamInfo<step>& info) {
    switch (info.param) {
    case step::stream_count:
        return "in_stream_count";
    case step::announce_buffer:
        return "in_announce";
    case step::create_condition:
        return "in_create_condition";
    case step::register_event:
        return "in_register_event";
    default:
        return "in_acquisition_start";
    }
}

// Drives the thread directly so that the exit request lands while set-up is held inside a step.
class capture_stop_during_setup : public capture_test, public testing::WithParamInterface<step> {};

TEST_P(capture_stop_during_setup, EndsTheThreadAndReleasesEverything) {
    frame_buffer buffer(handle_);
    capture_thread thread(&events_, *config_, handle_, buffer, [] { return std::int64_t{0}; });
    fake_sdk::hold(GetParam());
    ASSERT_EQ(thread.Run(), wxTHREAD_NO_ERROR);
    ASSERT_TRUE(fake_sdk::wait_until(fake_sdk::held));
    thread.request_exit();
    fake_sdk::release_hold();
    stop_with_watchdog([&] { thread.Wait(); });
    events_.dispatch();
    EXPECT_TRUE(events_.strings(EVT_THREAD_LOG_ERROR).empty());
    EXPECT_TRUE(events_.strings(EVT_THREAD_STREAM_STATS).empty());
    expect_everything_released();
}

INSTANTIATE_TEST_SUITE_P(each_hold, capture_stop_during_setup,
                         testing::Values(step::stream_count, step::announce_buffer,
                                         step::create_condition, step::register_event,
                                         step::acquisition_start),
                         hold_name);

TEST_F(capture_test, StopBeforeTheConditionExistsNeverWaits) {
    frame_buffer buffer(handle_);
    capture_thread thread(&events_, *config_, handle_, buffer, [] { return std::int64_t{0}; });
    fake_sdk::hold(step::create_condition);
    ASSERT_EQ(thread.Run(), wxTHREAD_NO_ERROR);
    ASSERT_TRUE(fake_sdk::wait_until(fake_sdk::held));
    thread.request_exit();
    fake_sdk::release_hold();
    stop_with_watchdog([&] { thread.Wait(); });
    EXPECT_EQ(fake_sdk::count_calls("J_Event_WaitForCondition"), 0u);
    EXPECT_EQ(fake_sdk::count_calls("J_Camera_ExecuteCommand AcquisitionStart"), 0u);
}

TEST_F(capture_test, StartAndStopAHundredTimes) {
    for (int round = 0; round < 100; ++round) {
        start();
        if (round % 2 == 1) {
            ASSERT_TRUE(waiting());
        }
        stop();
        expect_everything_released();
        ASSERT_TRUE(fake_sdk::misuses().empty()) << round;
    }
    events_.dispatch();
    EXPECT_TRUE(events_.strings(EVT_THREAD_LOG_ERROR).empty());
    EXPECT_GE(events_.strings(EVT_THREAD_LOG_INFO).size(), 50u);
}

// The test thread sends patterned frames as fast as buffers come back while a reader copies the
// frame buffer: every copy must be one whole frame, with that frame's timestamp.
TEST_F(capture_test, ReadersOfARunningCaptureNeverSeeAHalfWrittenFrame) {
    open_camera({"INT=>SD::big", "Big", "127.0.0.3", 640, 240, fake_sdk::mono8});
    start();
    ASSERT_TRUE(waiting());
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::atomic<int> reads{0};
    std::thread reader([&] {
        cv::Mat copy;
        while (!done) {
            const std::uint64_t timestamp = grab_->buffer().copy_out(copy);
            if (cv::countNonZero(copy != static_cast<std::uint8_t>(timestamp)) != 0)
                ++torn;
            ++reads;
        }
    });
    std::vector<std::uint8_t> frame(640 * 240);
    for (std::uint64_t timestamp = 1; timestamp <= 300; ++timestamp) {
        std::fill(frame.begin(), frame.end(), static_cast<std::uint8_t>(timestamp));
        ASSERT_TRUE(fake_sdk::wait_until([&] { return camera_.queued_buffers() > 0; }));
        ASSERT_TRUE(camera_.deliver_frame(frame, timestamp));
    }
    ASSERT_TRUE(events_.pump_until_count(EVT_THREAD_STREAM_STATS, 300));
    done = true;
    reader.join();
    EXPECT_GT(reads, 0);
    EXPECT_EQ(torn, 0);
    cv::Mat last;
    EXPECT_EQ(grab_->buffer().copy_out(last), 300u);
}
} // namespace
