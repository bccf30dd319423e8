#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "camera/capture_thread.h"
#include "camera/gige_receive.h"
#include "tests/camera/fake_jai_sdk.h"
#include "tests/support/event_recorder.h"

namespace {
const std::string start_call = "J_Camera_ExecuteCommand AcquisitionStart";
const std::string stop_call = "J_Camera_ExecuteCommand AcquisitionStop";
const std::string wait_call = "J_Event_WaitForCondition 1000";

std::vector<std::uint8_t> ramp(std::size_t size, unsigned start, int step = 1) {
    std::vector<std::uint8_t> pixels(size);
    for (std::size_t i = 0; i < size; ++i)
        pixels[i] = static_cast<std::uint8_t>(start + step * i);
    return pixels;
}

std::vector<std::uint8_t> pixels_of(const cv::Mat& image) {
    return std::vector<std::uint8_t>(image.data, image.data + image.total());
}

// Reads the buffer on a thread of its own, a copy of every frame or each new frame shared, until
// stop() (which its user calls before it goes), and counts the reads that are not one uniform
// frame of their timestamp's low byte. A shared frame is checked after the lock is let go, while
// the writer goes on storing.
struct frame_copier {
    std::atomic<bool> done{false};
    std::atomic<int> torn{0}, reads{0};
    std::thread thread;
    frame_copier(const frame_buffer& buffer, bool only_new)
        : thread([this, &buffer, only_new] {
              cv::Mat copy;
              std::shared_ptr<const cv::Mat> shared;
              for (std::uint64_t known = ~std::uint64_t{0}; !done; ++reads) {
                  known = only_new ? buffer.share_if_new(shared, known) : buffer.copy_out(copy);
                  const cv::Mat& read = only_new ? *shared : copy;
                  torn += cv::countNonZero(read != static_cast<std::uint8_t>(known)) != 0;
              }
          }) {}
    int stop() {
        done = true;
        thread.join();
        return torn;
    }
};

// An 8 x 4 Mono8 camera unless a test opens another.
class capture_test : public testing::Test {
protected:
    void SetUp() override {
        fake_sdk::reset();
        ASSERT_EQ(J_Factory_Open("", &factory_), J_ST_SUCCESS);
        open_camera({"INT=>SD::cam0"});
    }

    void TearDown() override {
        grab_.reset();
        J_Camera_Close(handle_);
        J_Factory_Close(factory_);
    }

    void open_camera(const fake_sdk::camera_setup& setup) {
        grab_.reset();
        if (handle_)
            J_Camera_Close(handle_);
        camera_ = fake_sdk::add_camera(setup);
        ASSERT_EQ(J_Camera_Open(factory_, setup.id.c_str(), &handle_, 0), J_ST_SUCCESS);
    }

    void start() {
        grab_.reset();
        grab_ = std::make_unique<continuous_grab>(&events_, settings_, handle_,
                                                  [this] { return now_.load(); });
    }

    // Starts, and tells whether the camera was told to send.
    bool started() {
        start();
        return eventually([this] { return camera_.acquiring(); });
    }

    // Delivers one frame and waits until the thread has reported it.
    void deliver(const std::vector<std::uint8_t>& pixels, std::uint64_t timestamp,
                 std::uint32_t missing = 0) {
        const std::size_t stats = events_.strings(EVT_THREAD_STREAM_STATS).size();
        ASSERT_TRUE(camera_.deliver_frame(pixels, timestamp, missing));
        ASSERT_TRUE(events_.pump_until_count(EVT_THREAD_STREAM_STATS, stats + 1));
    }

    std::vector<std::uint8_t> image() {
        cv::Mat copy;
        grab_->buffer().copy_out(copy);
        return pixels_of(copy);
    }

    // Set-up and the stop sequence undo each other, and AcquisitionStop goes only to a camera
    // that was told to start.
    void expect_released() {
        const fake_sdk::resources open = fake_sdk::open_resources();
        EXPECT_EQ(open.streams + open.conditions + open.events, 0u);
        EXPECT_FALSE(camera_.acquiring());
        EXPECT_EQ(fake_sdk::count_calls(stop_call), fake_sdk::count_calls(start_call));
    }

    FACTORY_HANDLE factory_ = nullptr;
    CAM_HANDLE handle_ = nullptr;
    fake_sdk::fake_camera camera_{""};
    capture_settings settings_;
    std::atomic<std::int64_t> now_{1000};
    event_recorder events_;
    std::unique_ptr<continuous_grab> grab_;
};

// Statistics follow each frame and each time-out; fps is delivered frames over whole seconds
// since the start, 0 in the first second. The fake reads the memory of the buffers still announced
// when the stream closes, so under AddressSanitizer a block freed after its failed revoke ends the
// test.
TEST_F(capture_test, frames_and_time_outs_post_their_lines_and_a_stop_frees_blocks_once_revoked) {
    ASSERT_TRUE(started());
    for (unsigned frame = 1; frame <= 20; ++frame) {
        deliver(ramp(32, frame), 100 + frame, frame);
        EXPECT_EQ(image(), ramp(32, frame));
    }
    EXPECT_EQ(events_.strings(EVT_THREAD_NEW_FRAME),
              (std::vector<std::string>{"timestamp: 110 missing packets: 10 queued buffers: 19",
                                        "timestamp: 120 missing packets: 20 queued buffers: 19"}));
    EXPECT_EQ(camera_.queued_buffers(), 20u);
    std::vector<std::string> reads; // the image record's items of the first frame
    for (const auto& call : fake_sdk::calls())
        if (call.rfind("J_DataStream_GetBufferInfo", 0) == 0 && reads.size() < 12)
            reads.push_back(call.substr(call.find(' ') + 1));
    EXPECT_EQ(reads, (std::vector<std::string>{"0", "1", "10", "11", "20", "3", "1001", "4", "12",
                                               "13", "14", "16"}));
    camera_.set_stream_info(STREAM_INFO_NUM_DELIVERED, 50);
    camera_.set_stream_info(STREAM_INFO_NUM_UNDERRUN, 2);
    camera_.set_stream_info(STREAM_INFO_NUM_AWAIT_DELIVERY, 1);
    camera_.set_stream_info(STREAM_INFO_NUM_CORRUPT, 3);
    const std::pair<std::int64_t, const char*> seconds_fps[] = {
        {1000, "0"}, {1003, "16"}, {1010, "5"}};
    std::size_t posted = 20;
    for (const auto& [now, fps] : seconds_fps) {
        now_ = now;
        fake_sdk::script_wait(J_COND_WAIT_TIMEOUT);
        ASSERT_TRUE(events_.pump_until_count(EVT_THREAD_STREAM_STATS, ++posted));
        EXPECT_EQ(events_.strings(EVT_THREAD_STREAM_STATS).back(),
                  std::string("delivered: 50 lost: 2 await: 1 corrupt: 3 fps: ") + fps);
    }
    fake_sdk::fail("J_DataStream_RevokeBuffer", 3);
    grab_.reset();
    EXPECT_THAT(events_.strings(EVT_THREAD_LOG_INFO), testing::ElementsAre("Condition wait exit"));
    std::vector<std::string> expected = {stop_call,
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
    expect_released();
}

// Each frame: 8 x 4 pixels. The wide camera's pixels are little-endian 16-bit, the high byte
// kept, turned by pixel; the padded one adds 4 bytes to each line of 8 pixels, and 8 of chunk data.
// The overlay is the side.
TEST_F(capture_test, frames_reach_the_buffer_as_set_and_the_overlay_is_the_side) {
    settings_ = {L"правый", true};
    open_camera({"INT=>SD::wide", "", "", 8, 4, J_GVSP_PIX_MONO16});
    ASSERT_TRUE(started());
    EXPECT_EQ(grab_->overlay_text().utf8_string(), "правый");
    deliver(ramp(64, 0), 1);
    EXPECT_EQ(image(), ramp(32, 63, -2));
    settings_ = {};
    open_camera({"INT=>SD::padded", "", "", 8, 4, J_GVSP_PIX_MONO8, 4});
    camera_.set_int("PayloadSize", 56);
    ASSERT_TRUE(started());
    std::vector<std::uint8_t> frame = ramp(56, 0);
    deliver(frame, 1);
    EXPECT_EQ(image(), pixels_of(cv::Mat(4, 12, CV_8UC1, frame.data()).colRange(0, 8).clone()));
}

TEST_F(capture_test, buffers_hold_the_payload_size_or_at_least_one_frame) {
    const std::pair<std::optional<std::int64_t>, std::size_t> payload_buffer[] = {
        {std::nullopt, 32}, {56, 56}, {32, 32}, {31, 32}, {-1, 32}, {std::int64_t{1} << 32, 32}};
    for (const auto& [payload, bytes] : payload_buffer) {
        if (payload)
            camera_.set_int("PayloadSize", *payload);
        ASSERT_TRUE(started());
        EXPECT_EQ(fake_sdk::open_resources().announced_bytes, capture_thread::buffer_count * bytes)
            << "PayloadSize " << payload.value_or(0);
    }
}

// Set-up failures, then failures of the loop: a frame is offered until the error shows.
TEST_F(capture_test, each_failure_is_logged_and_releases_what_set_up_reached) {
    const struct {
        const char* error;
        std::string call; // fails; without one, the wait returns the result
        unsigned skip = 0;
        std::uint32_t wait_result = 0;
    } failures[] = {
        {"Error getting number of streams", "J_Camera_GetNumOfDataStreams"},
        {"Error creating data stream", "J_Camera_CreateDataStream"},
        {"Error setting stream parameter", "J_DataStream_SetParam 3"},
        {"Error announce buffer", "J_DataStream_AnnounceBuffer", 7},
        {"Error queue buffer", "J_DataStream_QueueBuffer", 19},
        {"Error create condition", "J_Event_CreateCondition"},
        {"Error register event", "J_DataStream_RegisterEvent"},
        {"error start acquisition", "J_DataStream_StartAcquisition"},
        {"Error starting acquisition.", start_call},
        {"Error getting buffer info", "J_DataStream_GetBufferInfo 0"},
        {"Error getting buffer info", "J_DataStream_GetBufferInfo 16"},
        {"Error getting stream info", "J_DataStream_GetStreamInfo 1"},
        {"Error getting stream info", "J_DataStream_GetStreamInfo 1002"},
        {"Error waiting for event", wait_call},
        {"Condition wait error", "", 0, J_COND_WAIT_ERROR},
        {"Unknown error in capture thread loop", "", 0, 7},
    };
    for (const auto& f : failures) {
        events_.rows.clear();
        if (f.call.empty())
            fake_sdk::script_wait(f.wait_result);
        else
            fake_sdk::fail(f.call, f.skip);
        start();
        ASSERT_TRUE(events_.pump_until([&] {
            camera_.deliver_frame(ramp(32, 0), 1);
            return !events_.texts(EVT_THREAD_LOG_ERROR).empty();
        })) << f.call;
        grab_.reset();
        EXPECT_THAT(events_.strings(EVT_THREAD_LOG_ERROR), testing::ElementsAre(f.error)) << f.call;
        expect_released();
    }
}

// Drives the thread itself, so that the exit request lands while set-up is held inside a call.
// Before the condition exists there is nothing to signal, and the thread must not wait at all.
TEST_F(capture_test, an_exit_requested_during_set_up_ends_the_thread) {
    const std::pair<std::string, std::size_t> hold_waits[] = {{"J_Camera_GetNumOfDataStreams", 0},
                                                              {"J_DataStream_AnnounceBuffer", 0},
                                                              {"J_Event_CreateCondition", 0},
                                                              {"J_DataStream_RegisterEvent", 1},
                                                              {start_call, 1}};
    for (const auto& [call, waits] : hold_waits) {
        const std::size_t waited = fake_sdk::count_calls(wait_call),
                          made = fake_sdk::count_calls(call);
        frame_buffer buffer(handle_);
        capture_thread thread(&events_, false, handle_, buffer, [] { return std::int64_t{0}; });
        fake_sdk::hold(call);
        ASSERT_EQ(thread.Run(), wxTHREAD_NO_ERROR);
        ASSERT_TRUE(eventually([&] { return fake_sdk::count_calls(call) > made; }));
        thread.request_exit();
        fake_sdk::release_hold();
        thread.Wait();
        EXPECT_EQ(fake_sdk::count_calls(wait_call) - waited, waits) << call;
        expect_released();
    }
    EXPECT_TRUE(events_.strings(EVT_THREAD_LOG_ERROR).empty());
    EXPECT_TRUE(events_.strings(EVT_THREAD_STREAM_STATS).empty());
}

// Exit requests land wherever set-up or the first wait has got to. Where the kernel's limit is
// known and small enough, each frame exceeds it; each test runs in a process of its own (ctest), so
// this one sees the process's first notice, and the only one.
TEST_F(capture_test, quick_starts_and_stops_release_everything_and_a_small_limit_is_noted_once) {
    const std::uint64_t limit = read_rmem_max();
    const bool exceeded = limit > 0 && limit <= 64 * 1024 * 1024;
    const std::int64_t width = exceeded ? static_cast<std::int64_t>(limit / 2 + 1) : 8;
    open_camera({"INT=>SD::large", "", "", width, 2});
    for (int round = 0; round < 50; ++round) {
        if (round % 2 == 0)
            start();
        else
            ASSERT_TRUE(started());
        grab_.reset();
        expect_released();
    }
    EXPECT_TRUE(events_.strings(EVT_THREAD_LOG_ERROR).empty());
    const std::string notice = receive_buffer_warning(limit, static_cast<std::uint64_t>(width) * 2);
    EXPECT_THAT(events_.strings(EVT_THREAD_LOG_INFO),
                testing::Contains(notice).Times(exceeded ? 1 : 0))
        << limit;
}

// The test thread sends uniform frames whose value is their timestamp as fast as buffers come
// back, while a reader copies the frame buffer: every copy must be one whole frame.
TEST_F(capture_test, readers_of_a_running_capture_never_see_a_half_written_frame) {
    open_camera({"INT=>SD::big", "", "", 640, 240});
    ASSERT_TRUE(started());
    frame_copier reader(grab_->buffer(), false);
    std::vector<std::uint8_t> frame(640 * 240);
    for (std::uint64_t timestamp = 1; timestamp <= 300; ++timestamp) {
        std::fill(frame.begin(), frame.end(), static_cast<std::uint8_t>(timestamp));
        ASSERT_TRUE(eventually([&] { return camera_.deliver_frame(frame, timestamp); }));
    }
    ASSERT_TRUE(events_.pump_until_count(EVT_THREAD_STREAM_STATS, 300));
    EXPECT_EQ(reader.stop(), 0);
    EXPECT_GT(reader.reads, 0);
}

// Wider formats keep the high 8 of their significant bits; padding (0xEE) never shows. Bits per
// pixel are the format's third byte, but at least eight. Short or long sources stay inside both
// buffers.
TEST(frame_buffer, stores_each_pixel_format_as_one_byte_per_pixel_within_both_buffers) {
    const struct {
        std::int64_t format;
        std::int64_t width;
        std::size_t padding;
        std::vector<std::uint8_t> source;
        std::vector<std::uint8_t> pixels;
    } cases[] = {
        {0x01040001, 2, 0, {1, 2}, {1, 2}}, // four bits
        // Little-endian 0x12AB, 0xFF01, 0x0080.
        {J_GVSP_PIX_MONO16, 3, 0, {0xAB, 0x12, 0x01, 0xFF, 0x80, 0x00}, {0x12, 0xFF, 0x00}},
        // 0x0ABC and 0x0FFF in sixteen bits.
        {J_GVSP_PIX_MONO12, 2, 0, {0xBC, 0x0A, 0xFF, 0x0F}, {0xAB, 0xFF}},
        // 0xAB1, 0xCD2, 0xEF3: two pixels in three bytes, the last pair half used.
        {J_GVSP_PIX_MONO12_PACKED, 3, 0, {0xAB, 0x21, 0xCD, 0xEF, 0x03}, {0xAB, 0xCD, 0xEF}},
        // Mono10p: 0x3FF and 0x155 packed from bit 0 upwards.
        {0x010A0046, 2, 0, {0xFF, 0x57, 0x05}, {0xFF, 0x55}},
        {0x7F180014, 2, 0, {1, 2, 3, 4, 5, 6}, {3, 6}}, // 24 bits under a stray top byte
        {J_GVSP_PIX_MONO8, 3, 2, {1, 2, 3, 0xEE, 0xEE, 4, 5, 6, 0xEE, 0xEE}, {1, 2, 3, 4, 5, 6}},
        {J_GVSP_PIX_MONO16, 1, 1, {0x01, 0x10, 0xEE, 0x03, 0x30, 0xEE}, {0x10, 0x30}},
        {J_GVSP_PIX_MONO12_PACKED, 1, 1, {0xAB, 0x01, 0xEE, 0xCD, 0x02, 0xEE}, {0xAB, 0xCD}},
    };
    std::uint64_t timestamp = 0;
    for (const auto& c : cases) {
        const auto height = static_cast<std::int64_t>(c.pixels.size()) / c.width;
        frame_buffer buffer({c.width, height, c.format, bits_per_pixel_of(c.format)});
        buffer.store(c.source.data(), c.source.size(), ++timestamp, c.padding);
        EXPECT_EQ(pixels_of(buffer.image), c.pixels) << timestamp;
        EXPECT_EQ(buffer.timestamp, timestamp);
    }
    // Each source below is allocated at exactly its size, so AddressSanitizer reports any read
    // past it; the canary bytes after the image catch writes past the buffer.
    for (std::int64_t format : {J_GVSP_PIX_MONO8, J_GVSP_PIX_MONO16, J_GVSP_PIX_MONO12_PACKED})
        for (std::size_t padding : {0, 3}) {
            frame_buffer buffer({5, 3, format, bits_per_pixel_of(format)});
            const cv::Mat guarded(1, 15 + 8, CV_8UC1, cv::Scalar(0x5A));
            buffer.image = guarded.colRange(0, 15).reshape(1, 3);
            for (std::size_t size : {0, 7, 12, 1000}) {
                std::vector<std::uint8_t> source(size, 0xEE);
                buffer.store(source.data(), size, size, padding);
            }
            EXPECT_EQ(cv::countNonZero(guarded.colRange(15, 23) != 0x5A), 0) << format;
            EXPECT_EQ(buffer.image.at<std::uint8_t>(2, 4), 0xEE) << format << " " << padding;
        }
}

// A short frame is written over the previous one even when that is held.
TEST(frame_buffer, copies_and_shared_frames_never_change_and_a_known_frame_is_not_shared_again) {
    frame_buffer buffer({2, 2, J_GVSP_PIX_MONO8, 8});
    const std::vector<std::uint8_t> first = {9, 8, 7, 6}, second = {1, 2, 3, 4}, third = {5};
    buffer.store(first.data(), first.size(), 5);
    cv::Mat copy;
    std::shared_ptr<const cv::Mat> shared, known;
    EXPECT_EQ(buffer.copy_out(copy), 5u);
    EXPECT_EQ(buffer.share_if_new(shared, 4), 5u);
    EXPECT_EQ(buffer.share_if_new(known, 5), 5u);
    EXPECT_FALSE(known) << "the known frame is not shared again";
    buffer.store(second.data(), second.size(), 6);
    EXPECT_EQ(pixels_of(copy), first);
    EXPECT_EQ(pixels_of(*shared), first);
    EXPECT_EQ(buffer.share_if_new(known, 5), 6u);
    buffer.store(third.data(), third.size(), 7);
    EXPECT_EQ(pixels_of(*known), second);
    EXPECT_EQ(pixels_of(buffer.image), (std::vector<std::uint8_t>{5, 2, 3, 4}));
}

// A writer stores uniform frames whose value is their timestamp's low byte, while one reader
// copies every frame and another only the new ones: each copy is one whole frame.
TEST(frame_buffer, readers_never_see_a_half_written_frame) {
    frame_buffer buffer({1920, 120, J_GVSP_PIX_MONO8, 8});
    std::vector<std::uint8_t> frame(buffer.image.total());
    frame_copier every(buffer, false), only_new(buffer, true);
    for (std::uint64_t timestamp = 1; every.reads + only_new.reads < 400 && timestamp < 1000000;
         ++timestamp) {
        std::fill(frame.begin(), frame.end(), static_cast<std::uint8_t>(timestamp));
        buffer.store(frame.data(), frame.size(), timestamp);
    }
    EXPECT_EQ(every.stop() + only_new.stop(), 0);
    EXPECT_GE(every.reads + only_new.reads, 400);
}
} // namespace
