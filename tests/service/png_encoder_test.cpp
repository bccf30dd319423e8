#include "service/png_encoder.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

namespace {
cv::Mat random_image(int type, int seed) {
    cv::Mat image(37, 53, type);
    cv::theRNG().state = static_cast<std::uint64_t>(seed);
    cv::randu(image, 0, 256);
    return image;
}

cv::Mat decoded(const std::vector<unsigned char>& png) {
    return cv::imdecode(png, cv::IMREAD_UNCHANGED);
}

bool same(const cv::Mat& a, const cv::Mat& b) {
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}
} // namespace

// Decoded by another PNG reader, every file holds exactly the pixels it was given.
TEST(png_encoder, files_decode_to_exactly_the_pixels_given) {
    for (int seed : {1, 2}) {
        std::vector<unsigned char> grey_png, colour_png, grey_as_rgb_png;
        const cv::Mat grey = random_image(CV_8UC1, seed), colour = random_image(CV_8UC3, seed);
        append_png(grey, grey_png);
        append_png(colour, colour_png);
        append_png_grey_as_rgb(grey, grey_as_rgb_png);
        EXPECT_TRUE(same(decoded(grey_png), grey));
        EXPECT_TRUE(same(decoded(colour_png), colour)) << "BGR in memory, RGB in the file";
        cv::Mat three;
        cv::merge(std::vector<cv::Mat>{grey, grey, grey}, three);
        EXPECT_TRUE(same(decoded(grey_as_rgb_png), three));
    }
}

TEST(png_encoder, appends_after_what_the_buffer_holds) {
    std::vector<unsigned char> out = {1, 2, 3, 4};
    append_png(random_image(CV_8UC1, 3), out);
    EXPECT_EQ(std::vector<unsigned char>(out.begin(), out.begin() + 4),
              (std::vector<unsigned char>{1, 2, 3, 4}));
    EXPECT_TRUE(same(decoded({out.begin() + 4, out.end()}), random_image(CV_8UC1, 3)));
}

TEST(png_encoder, refuses_images_it_cannot_write) {
    std::vector<unsigned char> out;
    EXPECT_THROW(append_png(cv::Mat(4, 4, CV_16UC1), out), std::invalid_argument);
    EXPECT_THROW(append_png(cv::Mat(4, 4, CV_8UC4), out), std::invalid_argument);
    EXPECT_THROW(append_png_grey_as_rgb(cv::Mat(4, 4, CV_8UC3), out), std::invalid_argument);
}
