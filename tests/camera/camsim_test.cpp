#include <algorithm>
#include <set>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "tools/camsim/camsim_options.h"
#include "tools/camsim/frame_stamp.h"
#include "tools/camsim/scene.h"
#include "tools/common/command_line.h"

namespace {

// The renderer keeps columns between frames: whatever order the starts come in, no frame may show
// a column left over from another place on the track, in either format and at any brightness.
TEST(camsim_scene, a_reused_renderer_draws_the_track_at_every_start_and_brightness) {
    constexpr std::uint32_t width = 320, height = 240;
    constexpr std::uint64_t far = 100000;
    scene_renderer renderer(width, height);
    std::vector<std::uint8_t> narrow(std::size_t{width} * height);
    std::vector<std::uint16_t> wide(narrow.size());
    EXPECT_EQ(exposure_brightness(0), 1.0);
    EXPECT_EQ(exposure_brightness(5), 1.0);
    const double brightness[] = {1.0, exposure_brightness(1), exposure_brightness(9)};
    ASSERT_TRUE(brightness[1] < 1.0 && brightness[2] > 1.0);
    const std::uint64_t starts[] = {
        0,   16,  32,        32,        width * 2 - 7, width * 2 + 9, 500,
        490, far, far + 320, far + 640, far + 960,     far + 320,     far + 2880};
    for (std::size_t i = 0; i < std::size(starts); ++i) {
        const double scale = brightness[i % 3];
        renderer.draw_mono8(narrow.data(), starts[i], scale);
        renderer.draw_mono16(wide.data(), starts[i], scale);
        for (std::uint32_t y = 0; y < height; ++y)
            for (std::uint32_t x = 0; x < width; ++x) {
                const int level = scene_level(starts[i] + x, y, height);
                ASSERT_EQ(narrow[y * width + x],
                          static_cast<std::uint8_t>(std::min(255.0, level * scale)))
                    << starts[i] << " at " << x << "," << y;
                ASSERT_EQ(wide[y * width + x],
                          static_cast<std::uint16_t>(std::min(65535.0, level * (scale * 257))));
            }
    }
    EXPECT_GT(std::set<std::uint8_t>(narrow.begin(), narrow.end()).size(), 100u) << "textured";
    EXPECT_NE(scene_level(0, 100, height), scene_level(120, 100, height)) << "a sleeper further";
}

std::string parse_error(camsim_options& options, const std::vector<std::string>& arguments) {
    tool_app app("tresvik-camsim", "");
    add_camsim_options(app, options);
    return parse_arguments(app, arguments).error;
}

TEST(camsim_options, read_values_and_refuse_what_is_out_of_range_or_off_loopback) {
    camsim_options options;
    EXPECT_EQ(parse_error(options, {"--serial=R7", "--width=640", "--fps=12.5",
                                    "--pixel-format=Mono16", "--address=127.0.0.2", "--stamp"}),
              "");
    EXPECT_EQ(std::tie(options.serial, options.width, options.fps, options.pixel_format,
                       options.address, options.stamp),
              std::make_tuple("R7", 640u, 12.5, pixel_format_mono16, "127.0.0.2", true));
    for (const char* bad :
         {"--address=203.0.113.10", "--address=lo", "--width=0", "--height=-5", "--fps=fast",
          "--pixel-format=RGB8", "--serial=a-serial-too-long", "--colour=red", "--width"})
        EXPECT_NE(parse_error(options, {bad}), "") << bad;
}

cv::Mat scene_frame(std::uint64_t start) {
    cv::Mat frame(1200, 1920, CV_8UC1);
    scene_renderer(1920, 1200).draw_mono8(frame.data, start, 1.0);
    return frame;
}

// What the recorder stores: a JPEG of quality 85, decoded again as grey.
cv::Mat through_jpeg(const cv::Mat& frame) {
    std::vector<std::uint8_t> encoded;
    EXPECT_TRUE(cv::imencode(".jpeg", frame, encoded, {cv::IMWRITE_JPEG_QUALITY, 85}));
    return cv::imdecode(encoded, cv::IMREAD_GRAYSCALE);
}

// A stamp survives over the track and in a high byte. A cell matching its partner or an inverted
// marker spoils it; images too small or of another type get none drawn.
TEST(frame_stamp, survives_a_jpeg_of_quality_85_and_spoiled_missing_or_unfit_ones_read_as_none) {
    const std::uint32_t numbers[] = {0u, 0x80000001u, 0xAAAAAAAAu, 0x55555555u, 0xFFFFFFFFu};
    std::uint64_t start = 0;
    for (std::uint32_t number : numbers) {
        cv::Mat frame = scene_frame(start += 977);
        ASSERT_TRUE(draw_frame_stamp(frame, number));
        EXPECT_EQ(read_frame_stamp(frame), number);
        EXPECT_EQ(read_frame_stamp(through_jpeg(frame)), number);
    }
    cv::Mat wide(64, frame_stamp_width, CV_16UC1, cv::Scalar(30000)), narrow;
    ASSERT_TRUE(draw_frame_stamp(wide, 4242));
    wide.convertTo(narrow, CV_8U, 1.0 / 257);
    EXPECT_EQ(read_frame_stamp(narrow), 4242u);
    const int cell = frame_stamp_cell;
    cv::Mat partner_copied = scene_frame(0), marker_inverted;
    ASSERT_TRUE(draw_frame_stamp(partner_copied, 77));
    partner_copied.copyTo(marker_inverted);
    partner_copied(cv::Rect(20 * cell, cell, cell, cell))
        .copyTo(partner_copied(cv::Rect(20 * cell, 0, cell, cell)));
    cv::Mat marker = marker_inverted(cv::Rect(0, 0, cell, frame_stamp_height));
    cv::bitwise_not(marker, marker);
    for (const cv::Mat& none : {partner_copied, marker_inverted, through_jpeg(scene_frame(0)),
                                cv::Mat(1200, 1920, CV_8UC1, cv::Scalar(0)),
                                cv::Mat(1200, 1920, CV_8UC1, cv::Scalar(255)), cv::Mat()})
        EXPECT_EQ(read_frame_stamp(none), std::nullopt);
    cv::Mat unfit[] = {cv::Mat(frame_stamp_height, frame_stamp_width - 1, CV_8UC1, cv::Scalar(9)),
                       cv::Mat(frame_stamp_height - 1, frame_stamp_width, CV_8UC1, cv::Scalar(9)),
                       cv::Mat(64, frame_stamp_width, CV_8UC3, cv::Scalar(9, 9, 9))};
    for (cv::Mat& image : unfit) {
        EXPECT_FALSE(draw_frame_stamp(image, 5));
        EXPECT_EQ(cv::countNonZero(image.reshape(1) != 9), 0);
        EXPECT_EQ(read_frame_stamp(image), std::nullopt);
    }
}

} // namespace
