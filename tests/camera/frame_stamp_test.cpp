#include <cstdint>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "tools/camsim/frame_stamp.h"
#include "tools/camsim/scene.h"

namespace {

constexpr int width = 1920;
constexpr int height = 1200;

cv::Mat scene_frame(std::uint64_t start) {
    cv::Mat frame(height, width, CV_8UC1);
    scene_renderer(width, height).draw_mono8(frame.data, start, 1.0);
    return frame;
}

// What the recorder stores: a JPEG of quality 85, decoded again as grey.
cv::Mat through_jpeg(const cv::Mat& frame) {
    std::vector<std::uint8_t> encoded;
    EXPECT_TRUE(cv::imencode(".jpeg", frame, encoded, {cv::IMWRITE_JPEG_QUALITY, 85}));
    return cv::imdecode(encoded, cv::IMREAD_GRAYSCALE);
}

TEST(frame_stamp, survives_a_jpeg_of_quality_85_over_the_track) {
    const std::uint32_t numbers[] = {0u,          1u,          2u,         0x80000001u,
                                     0xAAAAAAAAu, 0x55555555u, 123456789u, 0xFFFFFFFFu};
    std::uint64_t start = 0;
    for (std::uint32_t number : numbers) {
        cv::Mat frame = scene_frame(start += 977);
        ASSERT_TRUE(draw_frame_stamp(frame, number));
        EXPECT_EQ(read_frame_stamp(frame), number);
        EXPECT_EQ(read_frame_stamp(through_jpeg(frame)), number);
    }
}

TEST(frame_stamp, is_not_found_in_frames_without_one) {
    EXPECT_EQ(read_frame_stamp(through_jpeg(scene_frame(0))), std::nullopt);
    EXPECT_EQ(read_frame_stamp(cv::Mat(height, width, CV_8UC1, cv::Scalar(0))), std::nullopt);
    EXPECT_EQ(read_frame_stamp(cv::Mat(height, width, CV_8UC1, cv::Scalar(255))), std::nullopt);
}

TEST(frame_stamp, a_cell_matching_its_partner_spoils_the_stamp) {
    cv::Mat frame = scene_frame(0);
    ASSERT_TRUE(draw_frame_stamp(frame, 77));
    frame(cv::Rect(20 * frame_stamp_cell, frame_stamp_cell, frame_stamp_cell, frame_stamp_cell))
        .copyTo(frame(cv::Rect(20 * frame_stamp_cell, 0, frame_stamp_cell, frame_stamp_cell)));
    EXPECT_EQ(read_frame_stamp(frame), std::nullopt);
}

TEST(frame_stamp, a_wrong_marker_spoils_the_stamp) {
    cv::Mat frame = scene_frame(0);
    ASSERT_TRUE(draw_frame_stamp(frame, 77));
    cv::Mat marker = frame(cv::Rect(0, 0, frame_stamp_cell, frame_stamp_height));
    cv::Mat inverted = 255 - marker;
    inverted.copyTo(marker);
    EXPECT_EQ(read_frame_stamp(frame), std::nullopt);
}

TEST(frame_stamp, sixteen_bit_frames_carry_it_in_their_high_byte) {
    cv::Mat wide(64, frame_stamp_width, CV_16UC1, cv::Scalar(30000));
    ASSERT_TRUE(draw_frame_stamp(wide, 4242));
    cv::Mat narrow;
    wide.convertTo(narrow, CV_8U, 1.0 / 257);
    EXPECT_EQ(read_frame_stamp(narrow), 4242u);
}

TEST(frame_stamp, frames_too_small_or_of_other_types_are_left_alone) {
    cv::Mat narrow(frame_stamp_height, frame_stamp_width - 1, CV_8UC1, cv::Scalar(9));
    EXPECT_FALSE(draw_frame_stamp(narrow, 5));
    EXPECT_EQ(cv::countNonZero(narrow != 9), 0);
    cv::Mat low(frame_stamp_height - 1, frame_stamp_width, CV_8UC1, cv::Scalar(9));
    EXPECT_FALSE(draw_frame_stamp(low, 5));
    cv::Mat colour(64, frame_stamp_width, CV_8UC3, cv::Scalar(9, 9, 9));
    EXPECT_FALSE(draw_frame_stamp(colour, 5));
    EXPECT_EQ(read_frame_stamp(colour), std::nullopt);
    EXPECT_EQ(read_frame_stamp(cv::Mat()), std::nullopt);
}

} // namespace
