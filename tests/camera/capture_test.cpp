#include <atomic>
#include <cmath>
#include <fstream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "camera/camera_access.h"
#include "camera/capture_thread.h"
#include "camera/gige_receive.h"
#include "tests/camera/camera_double.h"
#include "tests/support/event_recorder.h"
#include "tests/support/temp_home.h"

namespace {
using testing::ElementsAre;

constexpr std::int64_t mono8 = 0x01080001, mono16 = 0x01100007;

std::vector<std::uint8_t> ramp(std::size_t size, unsigned start, int step = 1) {
    std::vector<std::uint8_t> pixels(size);
    for (std::size_t i = 0; i < size; ++i)
        pixels[i] = static_cast<std::uint8_t>(start + step * i);
    return pixels;
}

std::vector<std::uint8_t> pixels_of(const cv::Mat& image) {
    const cv::Mat dense = image.clone();
    return std::vector<std::uint8_t>(dense.data, dense.data + dense.total());
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
        camera_double::reset();
        layer_ = open_factory();
        open_camera({"INT=>SD::cam0"});
    }

    void open_camera(const camera_double::camera_setup& setup) {
        grab_.reset();
        camera_.reset();
        scripted_ = camera_double::add_camera(setup);
        camera_ = layer_->open(setup.id);
        ASSERT_TRUE(camera_);
    }

    void start() {
        grab_.reset();
        settings_.on_lost = [this] { ++lost_reports_; };
        grab_ = std::make_unique<continuous_grab>(&events_, settings_, *camera_,
                                                  [this] { return now_.load(); });
    }

    // Starts, and tells whether the camera was told to send.
    bool started() {
        start();
        return eventually([this] { return scripted_.acquiring(); });
    }

    // Delivers one frame and waits until the thread has reported it.
    void deliver(const std::vector<std::uint8_t>& pixels, std::uint64_t timestamp,
                 bool complete = true, std::uint32_t missing = 0) {
        const std::size_t stats = events_.strings(EVT_THREAD_STREAM_STATS).size();
        ASSERT_TRUE(
            eventually([&] { return scripted_.deliver(pixels, timestamp, complete, missing); }));
        ASSERT_TRUE(events_.pump_until_count(EVT_THREAD_STREAM_STATS, stats + 1));
    }

    std::vector<std::uint8_t> image() {
        cv::Mat copy;
        grab_->buffer().copy_out(copy);
        return pixels_of(copy);
    }

    // The stream is gone, and AcquisitionStop went to a camera that was told to start.
    void expect_released() {
        EXPECT_EQ(camera_double::open_resources().streams, 0u);
        EXPECT_FALSE(scripted_.acquiring());
    }

    std::unique_ptr<camera_layer> layer_;
    std::unique_ptr<camera_device> camera_;
    camera_double::scripted_camera scripted_{""};
    capture_settings settings_;
    std::atomic<int> lost_reports_{0};
    std::atomic<std::int64_t> now_{1000};
    event_recorder events_;
    std::unique_ptr<continuous_grab> grab_;
};

TEST(camera_access, descriptions_name_the_driver_and_the_first_holding_it_is_preferred) {
    EXPECT_EQ(driver_tag("TL=>GevTL , DEV=>cam"), "[UnknownDriver]");
    const camera_list both = {{"GO 127.0.0.11 [FilterDriver]", "fd"},
                              {"GO 127.0.0.11 [SocketDriver]", "sd"}};
    EXPECT_EQ(preferred_description(both, "SocketDriver"), "GO 127.0.0.11 [SocketDriver]");
    EXPECT_EQ(preferred_description(both, "FilterDriver"), "GO 127.0.0.11 [FilterDriver]");
    EXPECT_EQ(preferred_description(both, "SoketDriver"), "GO 127.0.0.11 [FilterDriver]");
    EXPECT_EQ(preferred_description({}, "SocketDriver"), "");
}

// Of two cameras with one description the first listed stays; the frame buffer is made from the
// open camera's geometry. Then each step, made to fail, throws its own text.
TEST_F(capture_test, cameras_are_listed_opened_and_measured_and_each_step_fails_with_its_text) {
    camera_double::add_camera({"TL=>GevTL , INT=>SD , DEV=>b", "Beta", "127.0.0.2"});
    camera_double::add_camera(
        {"TL=>GevTL , INT=>FD , DEV=>a", "Alpha", "127.0.0.3", 640, 480, 0x010C0006});
    camera_double::add_camera({"TL=>GevTL , INT=>SD , DEV=>c", "Beta", "127.0.0.2"});
    EXPECT_EQ(enumerate_cameras(*layer_),
              (camera_list{{"Alpha 127.0.0.3 [FilterDriver]", "TL=>GevTL , INT=>FD , DEV=>a"},
                           {"Beta 127.0.0.2 [SocketDriver]", "TL=>GevTL , INT=>SD , DEV=>b"},
                           {"FakeCam 127.0.0.1 [SocketDriver]", "INT=>SD::cam0"}}));
    JAI_Camera open(*layer_, "TL=>GevTL , INT=>FD , DEV=>a");
    set_exposure_mode(open.device(), "ContinuousPreset4");
    EXPECT_EQ(camera_double::scripted_camera{"TL=>GevTL , INT=>FD , DEV=>a"}.exposure_mode(),
              "ContinuousPreset4");
    const frame_buffer buffer(open.device());
    EXPECT_EQ(buffer.image.size(), cv::Size(640, 480));
    EXPECT_EQ(buffer.image.type(), CV_8UC1);
    EXPECT_EQ(cv::countNonZero(buffer.image) + buffer.timestamp, 0u);
    EXPECT_EQ(buffer.frame_bytes(), 640 * 480 * 12 / 8);
    const std::pair<const char*, const char*> call_text[] = {
        {"open_layer", "Error opening JAI factory."},
        {"discover", "Error updating camera list."},
        {"open", "Error opening camera."},
        {"set_text ExposureMode", "Error setting exposure mode."},
        {"integer Width", "Error getting frame width."},
        {"integer Height", "Error getting frame height."},
        {"integer PixelFormat", "Error getting pixel format."},
    };
    for (const auto& [call, text] : call_text) {
        camera_double::fail(call);
        try {
            open_factory();
            enumerate_cameras(*layer_);
            JAI_Camera opened(*layer_, "INT=>SD::cam0");
            set_exposure_mode(opened.device(), "Off");
            frame_buffer{opened.device()};
            ADD_FAILURE() << call << " did not fail";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), text);
        }
    }
}

// Statistics follow each frame; fps is completed frames over whole seconds since the start, 0 in
// the first second. An incomplete frame is counted, never stored. A second without frames posts
// the statistics too.
TEST_F(capture_test, frames_post_their_lines_an_incomplete_one_is_skipped_and_stop_releases) {
    ASSERT_TRUE(started());
    for (unsigned frame = 1; frame <= 20; ++frame) {
        deliver(ramp(32, frame), 100 + frame, true, frame);
        EXPECT_EQ(image(), ramp(32, frame));
    }
    EXPECT_EQ(events_.strings(EVT_THREAD_NEW_FRAME),
              (std::vector<std::string>{"timestamp: 110 missing packets: 10 queued buffers: 19",
                                        "timestamp: 120 missing packets: 20 queued buffers: 19"}));
    deliver(ramp(32, 99), 121, false);
    EXPECT_EQ(image(), ramp(32, 20));
    scripted_.add_counters({9, 0, 2, 0, 4});
    const std::pair<std::int64_t, const char*> seconds_fps[] = {{1000, "0"}, {1003, "10"}};
    for (const auto& [now, fps] : seconds_fps) {
        now_ = now;
        deliver(ramp(32, 0), now);
        EXPECT_EQ(events_.strings(EVT_THREAD_STREAM_STATS).back(),
                  std::string("delivered: ") + (now == 1000 ? "30" : "31") + " fps: " + fps +
                      " failed: 1 underruns: 2 missing packets: 210 resent: 4");
    }
    const std::size_t stats = events_.strings(EVT_THREAD_STREAM_STATS).size();
    EXPECT_TRUE(events_.pump_until_count(EVT_THREAD_STREAM_STATS, stats + 1));
    EXPECT_EQ(scripted_.free_buffers(), 20u);
    grab_.reset();
    EXPECT_THAT(events_.strings(EVT_THREAD_LOG_INFO), ElementsAre("Condition wait exit"));
    expect_released();
}

// Every format becomes the same grey 8 x 4 picture: a horizontal ramp of 8-bit levels. Bayer
// mosaics of one colour become that colour's grey, whatever their pattern; a padded buffer's
// padding (0xEE) never shows, also when the picture is turned.
TEST_F(capture_test, each_pixel_format_becomes_grey_and_turns_over_its_padding) {
    const auto mosaic = [](const char* pattern) {
        const std::uint8_t colour[] = {200, 100, 20}; // red, green, blue
        std::vector<std::uint8_t> bytes(32);
        for (std::size_t i = 0; i < 32; ++i) {
            const char at = pattern[(i / 8 % 2) * 2 + i % 2];
            bytes[i] = colour[at == 'R' ? 0 : at == 'G' ? 1 : 2];
        }
        return bytes;
    };
    std::vector<std::uint8_t> rgb, mono16_bytes, mono10, mono12, mono12p, padded;
    for (unsigned i = 0; i < 32; ++i) {
        const unsigned level = i % 8 * 30;
        rgb.insert(rgb.end(), {std::uint8_t(level), std::uint8_t(level), std::uint8_t(level)});
        mono16_bytes.insert(mono16_bytes.end(), {0x77, std::uint8_t(level)});
        mono10.insert(mono10.end(), {std::uint8_t(level << 2 | 3), std::uint8_t(level >> 6)});
        mono12.insert(mono12.end(), {std::uint8_t(level << 4 | 9), std::uint8_t(level >> 4)});
        if (i % 2 == 1) // Mono12p: two pixels of level << 4 | 5 in three bytes, low bits first
            mono12p.insert(mono12p.end(),
                           {std::uint8_t((i - 1) % 8 * 30 << 4 | 5),
                            std::uint8_t((i - 1) % 8 * 30 >> 4 | 0x50), std::uint8_t(level)});
        padded.push_back(std::uint8_t(level));
        if (i % 8 == 7)
            padded.insert(padded.end(), {0xEE, 0xEE, 0xEE});
    }
    const std::vector<std::uint8_t> expected = [] {
        std::vector<std::uint8_t> grey(32);
        for (unsigned i = 0; i < 32; ++i)
            grey[i] = std::uint8_t(i % 8 * 30);
        return grey;
    }();
    const std::uint8_t colour_grey = 121; // 0.299 x 200 + 0.587 x 100 + 0.114 x 20
    const struct {
        const char* name;
        std::int64_t format, padding;
        std::vector<std::uint8_t> bytes;
        bool rotate = false;
    } cases[] = {
        {"Mono8", mono8, 0, expected},
        {"Mono10", 0x01100003, 0, mono10},
        {"Mono12", 0x01100005, 0, mono12},
        {"Mono12p", 0x010C0047, 0, mono12p},
        {"Mono16", mono16, 0, mono16_bytes},
        {"RGB8", 0x02180014, 0, rgb},
        {"BayerRG8", 0x01080009, 0, mosaic("RGGB")},
        {"BayerBG8", 0x0108000B, 0, mosaic("BGGR")},
        {"BayerGR8", 0x01080008, 0, mosaic("GRBG")},
        {"BayerGB8", 0x0108000A, 0, mosaic("GBRG")},
        {"padded Mono8", mono8, 3, padded},
        {"padded Mono8 turned", mono8, 3, padded, true},
    };
    for (const auto& c : cases) {
        settings_.rotate180 = c.rotate;
        open_camera({std::string("INT=>SD::") + c.name, "", "", 8, 4, c.format, c.padding});
        scripted_.set_int("PayloadSize", static_cast<std::int64_t>(c.bytes.size()));
        ASSERT_TRUE(started());
        deliver(c.bytes, 1);
        std::vector<std::uint8_t> want = expected;
        if (c.name[0] == 'B')
            want.assign(32, colour_grey);
        if (c.rotate)
            std::reverse(want.begin(), want.end());
        EXPECT_EQ(image(), want) << c.name;
    }
}

TEST_F(capture_test, buffers_hold_the_payload_size_or_at_least_one_frame) {
    const std::pair<std::optional<std::int64_t>, std::size_t> payload_buffer[] = {
        {std::nullopt, 32}, {56, 56}, {31, 32}, {-1, 32}, {std::int64_t{1} << 32, 32}};
    for (const auto& [payload, bytes] : payload_buffer) {
        if (payload)
            scripted_.set_int("PayloadSize", *payload);
        ASSERT_TRUE(started());
        EXPECT_EQ(camera_double::open_resources().buffer_bytes,
                  capture_thread::buffer_count * bytes)
            << "PayloadSize " << payload.value_or(0);
    }
}

// Each set-up failure is one error row, and what was reached is released; an exit requested
// while set-up is held inside a call ends the thread without starting the camera.
TEST_F(capture_test, set_up_failures_and_early_exits_release_what_set_up_reached) {
    const std::pair<const char*, const char*> failures[] = {
        {"open_stream", "Error creating data stream"},
        {"execute AcquisitionStart", "Error starting acquisition."}};
    for (const auto& [call, error] : failures) {
        events_.rows.clear();
        camera_double::fail(call);
        start();
        ASSERT_TRUE(
            events_.pump_until([&] { return !events_.texts(EVT_THREAD_LOG_ERROR).empty(); }));
        grab_.reset();
        EXPECT_THAT(events_.strings(EVT_THREAD_LOG_ERROR), ElementsAre(error)) << call;
        expect_released();
    }
    for (const char* call : {"integer PayloadSize", "open_stream"}) {
        frame_buffer buffer(*camera_);
        capture_thread thread(&events_, {}, *camera_, buffer);
        camera_double::hold(call);
        const std::size_t made = camera_double::count_calls(call);
        ASSERT_EQ(thread.Run(), wxTHREAD_NO_ERROR);
        ASSERT_TRUE(eventually([&] { return camera_double::count_calls(call) > made; }));
        thread.request_exit();
        camera_double::release_hold();
        thread.Wait();
        expect_released();
    }
    EXPECT_EQ(camera_double::count_calls("execute AcquisitionStart"), 1u) << "the failing start";
}

// A camera that stops answering is reported once, a second or so after its last frame; the
// capture ends without sending it anything more, and the recorder is told.
TEST_F(capture_test, a_camera_that_stops_answering_is_reported_once_and_the_capture_ends) {
    ASSERT_TRUE(started());
    deliver(ramp(32, 1), 1);
    scripted_.set_present(false);
    const auto vanished = std::chrono::steady_clock::now();
    ASSERT_TRUE(events_.pump_until([&] { return !events_.texts(EVT_THREAD_LOG_ERROR).empty(); }));
    EXPECT_LT(std::chrono::steady_clock::now() - vanished, std::chrono::seconds(2));
    EXPECT_THAT(events_.strings(EVT_THREAD_LOG_ERROR),
                ElementsAre("Camera lost: it no longer answers."));
    EXPECT_TRUE(eventually([&] { return lost_reports_ == 1; }));
    grab_.reset();
    EXPECT_EQ(camera_double::count_calls("execute AcquisitionStop"), 0u);
    EXPECT_EQ(camera_double::open_resources().streams, 0u);
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

TEST(receive_buffer, the_limit_is_read_and_only_a_frame_that_does_not_fit_is_warned_of) {
    temp_dir folder;
    const std::string path = folder.path() + "/rmem_max";
    std::ofstream(path) << "4194304\n";
    EXPECT_EQ(read_rmem_max_from(path), 4194304u);
    std::ofstream(path) << "unlimited\n";
    EXPECT_EQ(read_rmem_max_from(path), 0u);
    EXPECT_EQ(receive_buffer_warning(4194304, 4194304), "");
    EXPECT_EQ(receive_buffer_warning(0, 2457600), "");
    const std::string warning = receive_buffer_warning(212992, 2457600);
    for (const char* text : {"212992", "2457600", "sysctl -w net.core.rmem_max=3145728",
                             "line \"net.core.rmem_max=3145728\" to a file in /etc/sysctl.d/"})
        EXPECT_NE(warning.find(text), std::string::npos) << text;
}

camera_frame frame_of(const std::vector<std::uint8_t>& pixels, std::uint64_t timestamp,
                      std::int64_t width, std::int64_t height) {
    camera_frame frame;
    frame.data = pixels.data();
    frame.size = pixels.size();
    frame.width = width;
    frame.height = height;
    frame.pixel_format = mono8;
    frame.timestamp = timestamp;
    return frame;
}

// A smaller frame is written over the previous one even when that is held; a frame shorter than
// its geometry is not stored.
TEST(frame_buffer, copies_and_shared_frames_never_change_and_a_known_frame_is_not_shared_again) {
    frame_buffer buffer({2, 2, mono8, 8});
    const std::vector<std::uint8_t> first = {9, 8, 7, 6}, second = {1, 2, 3, 4}, third = {5};
    ASSERT_TRUE(buffer.store(frame_of(first, 5, 2, 2)));
    cv::Mat copy;
    std::shared_ptr<const cv::Mat> shared, known;
    EXPECT_EQ(buffer.copy_out(copy), 5u);
    EXPECT_EQ(buffer.share_if_new(shared, 4), 5u);
    EXPECT_EQ(buffer.share_if_new(known, 5), 5u);
    EXPECT_FALSE(known) << "the known frame is not shared again";
    ASSERT_TRUE(buffer.store(frame_of(second, 6, 2, 2)));
    EXPECT_EQ(pixels_of(copy), first);
    EXPECT_EQ(pixels_of(*shared), first);
    EXPECT_EQ(buffer.share_if_new(known, 5), 6u);
    ASSERT_TRUE(buffer.store(frame_of(third, 7, 1, 1)));
    EXPECT_FALSE(buffer.store(frame_of(third, 8, 2, 1)));
    EXPECT_EQ(pixels_of(*known), second);
    EXPECT_EQ(pixels_of(buffer.image), (std::vector<std::uint8_t>{5, 2, 3, 4}));
    EXPECT_EQ(buffer.timestamp, 7u);
}

// A writer stores uniform frames whose value is their timestamp's low byte, while one reader
// copies every frame and another only the new ones: each copy is one whole frame.
TEST(frame_buffer, readers_never_see_a_half_written_frame) {
    frame_buffer buffer({1920, 120, mono8, 8});
    std::vector<std::uint8_t> frame(buffer.image.total());
    frame_copier every(buffer, false), only_new(buffer, true);
    for (std::uint64_t timestamp = 1; every.reads + only_new.reads < 400 && timestamp < 1000000;
         ++timestamp) {
        std::fill(frame.begin(), frame.end(), static_cast<std::uint8_t>(timestamp));
        buffer.store(frame_of(frame, timestamp, 1920, 120));
    }
    EXPECT_EQ(every.stop() + only_new.stop(), 0);
    EXPECT_GE(every.reads + only_new.reads, 400);
}
} // namespace
