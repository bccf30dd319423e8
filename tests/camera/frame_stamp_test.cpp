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

TEST(frame_stamp, a_cell_matching_its_partner_or_a_wrong_marker_spoils_it) {
    const int cell = frame_stamp_cell;
    cv::Mat partner_copied = scene_frame(0), marker_inverted;
    ASSERT_TRUE(draw_frame_stamp(partner_copied, 77));
    partner_copied.copyTo(marker_inverted);
    partner_copied(cv::Rect(20 * cell, cell, cell, cell))
        .copyTo(partner_copied(cv::Rect(20 * cell, 0, cell, cell)));
    cv::Mat marker = marker_inverted(cv::Rect(0, 0, cell, frame_stamp_height));
    cv::bitwise_not(marker, marker);
    EXPECT_EQ(read_frame_stamp(partner_copied), std::nullopt);
    EXPECT_EQ(read_frame_stamp(marker_inverted), std::nullopt);
}

TEST(frame_stamp, sixteen_bit_frames_carry_it_in_their_high_byte) {
    cv::Mat wide(64, frame_stamp_width, CV_16UC1, cv::Scalar(30000));
    ASSERT_TRUE(draw_frame_stamp(wide, 4242));
    cv::Mat narrow;
    wide.convertTo(narrow, CV_8U, 1.0 / 257);
    EXPECT_EQ(read_frame_stamp(narrow), 4242u);
}

TEST(frame_stamp, frames_without_one_or_unfit_for_one_have_none) {
    EXPECT_EQ(read_frame_stamp(through_jpeg(scene_frame(0))), std::nullopt);
    EXPECT_EQ(read_frame_stamp(cv::Mat(height, width, CV_8UC1, cv::Scalar(0))), std::nullopt);
    EXPECT_EQ(read_frame_stamp(cv::Mat(height, width, CV_8UC1, cv::Scalar(255))), std::nullopt);
    EXPECT_EQ(read_frame_stamp(cv::Mat()), std::nullopt);
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
