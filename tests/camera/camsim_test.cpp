#include <algorithm>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "tools/camsim/camsim_options.h"
#include "tools/camsim/scene.h"
#include "tools/common/command_line.h"

namespace {

constexpr std::uint32_t width = 320;
constexpr std::uint32_t height = 240;

std::vector<std::uint8_t> frame_at(std::uint64_t start, double brightness = 1.0) {
    std::vector<std::uint8_t> pixels(std::size_t{width} * height);
    scene_renderer(width, height).draw_mono8(pixels.data(), start, brightness);
    return pixels;
}

parse_outcome parse(const std::vector<std::string>& arguments, camsim_options& options) {
    tool_app app("tresvik-camsim", "");
    add_camsim_options(app, options);
    return parse_arguments(app, arguments);
}

void expect_scene_at(const std::vector<std::uint8_t>& frame, std::uint64_t start) {
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x)
            ASSERT_EQ(frame[y * width + x], scene_level(start + x, y, height))
                << "start " << start << " at " << x << "," << y;
}

TEST(camsim_scene, frames_of_a_moving_car_overlap_by_the_distance_not_yet_travelled) {
    const std::uint32_t moved = 16;
    scene_renderer renderer(width, height);
    std::vector<std::uint8_t> first(std::size_t{width} * height), second(first.size());
    renderer.draw_mono8(first.data(), 1000, 1.0);
    renderer.draw_mono8(second.data(), 1000 + moved, 1.0);
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x + moved < width; ++x)
            ASSERT_EQ(second[y * width + x], first[y * width + x + moved]) << x << "," << y;
}

TEST(camsim_scene, each_pixel_is_fixed_by_its_place_on_the_track) {
    expect_scene_at(frame_at(777), 777);
}

// The renderer keeps columns between frames; whatever order the frames come in, none may show a
// column left over from another place on the track.
TEST(camsim_scene, a_reused_renderer_draws_the_track_at_every_start_in_any_order) {
    scene_renderer renderer(width, height);
    std::vector<std::uint8_t> frame(std::size_t{width} * height);
    const std::uint64_t far = 100000;
    const std::uint64_t starts[] = {0,
                                    16,
                                    32,
                                    32,
                                    width * 2 - 7,
                                    width * 2 + 9,
                                    500,
                                    490,
                                    10,
                                    10 + width,
                                    far,
                                    far + width,
                                    far + width * 2,
                                    far + width * 3,
                                    far + width,
                                    far + width * 9};
    for (std::uint64_t start : starts) {
        renderer.draw_mono8(frame.data(), start, 1.0);
        expect_scene_at(frame, start);
    }
}

TEST(camsim_scene, is_textured_enough_to_stitch) {
    const std::vector<std::uint8_t> frame = frame_at(0);
    const std::set<std::uint8_t> levels(frame.begin(), frame.end());
    EXPECT_GT(levels.size(), 100u);
    EXPECT_NE(frame_at(0), frame_at(120)) << "one sleeper pitch further must look different";
}

TEST(camsim_scene, mono16_spreads_the_same_scene_over_16_bits) {
    std::vector<std::uint16_t> wide(std::size_t{width} * height);
    scene_renderer renderer(width, height);
    renderer.draw_mono16(wide.data(), 50, 1.0);
    const std::vector<std::uint8_t> narrow = frame_at(50);
    for (std::size_t i = 0; i < narrow.size(); ++i)
        ASSERT_EQ(wide[i], narrow[i] * 257) << i;
    renderer.draw_mono16(wide.data(), 60, exposure_brightness(1));
    const std::vector<std::uint8_t> dim = frame_at(60, exposure_brightness(1));
    for (std::size_t i = 0; i < dim.size(); i += 7)
        ASSERT_NEAR(wide[i] / 257, dim[i], 1) << i;
}

TEST(camsim_scene, exposure_presets_scale_the_brightness) {
    EXPECT_DOUBLE_EQ(exposure_brightness(0), 1.0);
    EXPECT_LT(exposure_brightness(1), exposure_brightness(9));
    EXPECT_DOUBLE_EQ(exposure_brightness(5), 1.0);
    const std::vector<std::uint8_t> dim = frame_at(0, exposure_brightness(1)), plain = frame_at(0);
    for (std::size_t i = 0; i < dim.size(); i += 13)
        ASSERT_LE(dim[i], plain[i]);
    EXPECT_NE(dim, plain);
}

TEST(camsim_scene, brighter_presets_clip_at_white) {
    const double bright = exposure_brightness(9);
    const std::vector<std::uint8_t> scaled = frame_at(300, bright), plain = frame_at(300);
    for (std::size_t i = 0; i < plain.size(); ++i)
        ASSERT_EQ(scaled[i], static_cast<std::uint8_t>(std::min(255.0, plain[i] * bright))) << i;
}

TEST(camsim_options, read_values_and_refuse_what_is_out_of_range_or_off_loopback) {
    camsim_options options;
    EXPECT_EQ(parse({"--serial", "R7", "--width=640", "--fps", "12.5", "--pixel-format", "Mono16",
                     "--address", "127.0.0.2", "--stamp"},
                    options)
                  .error,
              "");
    EXPECT_EQ(options.serial, "R7");
    EXPECT_EQ(options.width, 640u);
    EXPECT_DOUBLE_EQ(options.fps, 12.5);
    EXPECT_EQ(options.pixel_format, pixel_format_mono16);
    EXPECT_EQ(options.address, "127.0.0.2");
    EXPECT_TRUE(options.stamp);
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"--address", "203.0.113.10"},
          {"--address", "lo"},
          {"--width", "0"},
          {"--height", "-5"},
          {"--fps", "fast"},
          {"--pixel-format", "RGB8"},
          {"--serial", "a-serial-too-long"},
          {"--colour", "red"},
          {"--width"}}) {
        camsim_options ignored;
        EXPECT_NE(parse(bad, ignored).error, "") << bad[0];
    }
}

} // namespace
