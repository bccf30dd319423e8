#include <atomic>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "camera/grab_modes.h"
#include "tests/camera/fake_jai_sdk.h"

namespace {
frame_geometry geometry_of(std::int64_t width, std::int64_t height, std::int64_t format) {
    return frame_geometry{width, height, format, bits_per_pixel_of(format)};
}

std::vector<std::uint8_t> pixels_of(const cv::Mat& image) {
    return std::vector<std::uint8_t>(image.data, image.data + image.total());
}

TEST(frame_buffer, bits_per_pixel_are_the_third_byte_but_at_least_eight) {
    const std::pair<std::int64_t, int> format_bits[] = {
        {0, 8},           {0x01040001, 8}, {fake_sdk::mono8, 8}, {fake_sdk::mono16, 16},
        {0x02180014, 24}, {0x7F0C0000, 12}};
    for (const auto& [format, bits] : format_bits)
        EXPECT_EQ(bits_per_pixel_of(format), bits) << format;
}

// Wider formats keep the high 8 of their significant bits; padding (0xEE) never shows.
TEST(frame_buffer, stores_each_pixel_format_as_one_byte_per_pixel) {
    const struct {
        std::int64_t format;
        std::int64_t width;
        std::size_t padding;
        std::vector<std::uint8_t> source;
        std::vector<std::uint8_t> pixels;
    } cases[] = {
        {fake_sdk::mono8, 4, 0, {1, 2, 3, 4, 5, 6, 7, 8}, {1, 2, 3, 4, 5, 6, 7, 8}},
        // Little-endian 0x12AB, 0xFF01, 0x0080.
        {fake_sdk::mono16, 3, 0, {0xAB, 0x12, 0x01, 0xFF, 0x80, 0x00}, {0x12, 0xFF, 0x00}},
        // 0x0ABC and 0x0FFF in sixteen bits.
        {fake_sdk::mono12, 2, 0, {0xBC, 0x0A, 0xFF, 0x0F}, {0xAB, 0xFF}},
        // 0xAB1, 0xCD2, 0xEF3: two pixels in three bytes, the last pair half used.
        {fake_sdk::mono12_packed, 3, 0, {0xAB, 0x21, 0xCD, 0xEF, 0x03}, {0xAB, 0xCD, 0xEF}},
        // Mono10p: 0x3FF and 0x155 packed from bit 0 upwards.
        {0x010A0046, 2, 0, {0xFF, 0x57, 0x05}, {0xFF, 0x55}},
        {fake_sdk::mono8, 3, 2, {1, 2, 3, 0xEE, 0xEE, 4, 5, 6, 0xEE, 0xEE}, {1, 2, 3, 4, 5, 6}},
        {fake_sdk::mono16,
         2,
         3,
         {0x01, 0x10, 0x02, 0x20, 0xEE, 0xEE, 0xEE, 0x03, 0x30, 0x04, 0x40, 0xEE, 0xEE, 0xEE},
         {0x10, 0x20, 0x30, 0x40}},
        {fake_sdk::mono12_packed,
         3,
         1,
         {0xAB, 0x21, 0xCD, 0xEF, 0x03, 0xEE, 0x12, 0x21, 0x34, 0x56, 0x03, 0xEE},
         {0xAB, 0xCD, 0xEF, 0x12, 0x34, 0x56}},
    };
    std::uint64_t timestamp = 0;
    for (const auto& c : cases) {
        const auto height = static_cast<std::int64_t>(c.pixels.size()) / c.width;
        frame_buffer buffer(geometry_of(c.width, height, c.format));
        buffer.store(c.source.data(), c.source.size(), ++timestamp, c.padding);
        EXPECT_EQ(pixels_of(buffer.image), c.pixels) << timestamp;
        EXPECT_EQ(buffer.timestamp, timestamp);
    }
}

// Each source below is allocated at exactly its size, so AddressSanitizer reports any read past
// it; the canary bytes after the image catch writes past the buffer.
TEST(frame_buffer, short_or_long_sources_stay_inside_both_buffers) {
    for (std::int64_t format : {fake_sdk::mono8, fake_sdk::mono16, fake_sdk::mono12_packed})
        for (std::size_t padding : {0, 3}) {
            frame_buffer buffer(geometry_of(5, 3, format));
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

TEST(frame_buffer, copies_out_are_private_and_only_of_a_frame_not_yet_known) {
    frame_buffer buffer(geometry_of(2, 2, fake_sdk::mono8));
    const std::vector<std::uint8_t> first = {9, 8, 7, 6}, second = {1, 2, 3, 4};
    buffer.store(first.data(), first.size(), 5);
    cv::Mat copy, known;
    EXPECT_EQ(buffer.copy_out(copy), 5u);
    EXPECT_EQ(buffer.copy_out_if_new(known, 5), 5u);
    EXPECT_TRUE(known.empty()) << "the known frame is not copied again";
    buffer.store(second.data(), second.size(), 6);
    EXPECT_EQ(pixels_of(copy), first);
    EXPECT_EQ(buffer.copy_out_if_new(known, 5), 6u);
    EXPECT_EQ(pixels_of(known), second);
}

// A writer stores uniform frames whose value is their timestamp's low byte, while one reader
// copies every frame and another only the new ones: each copy is one whole frame.
TEST(frame_buffer, readers_never_see_a_half_written_frame) {
    frame_buffer buffer(geometry_of(1920, 120, fake_sdk::mono8));
    std::atomic<bool> done{false};
    std::atomic<int> torn{0}, reads{0};
    auto reader = [&](bool only_new) {
        cv::Mat copy;
        std::uint64_t known = std::numeric_limits<std::uint64_t>::max();
        for (; !done; ++reads) {
            known = only_new ? buffer.copy_out_if_new(copy, known) : buffer.copy_out(copy);
            torn += cv::countNonZero(copy != static_cast<std::uint8_t>(known)) != 0;
        }
    };
    std::thread every(reader, false), only_new(reader, true);
    std::vector<std::uint8_t> frame(buffer.image.total());
    for (std::uint64_t timestamp = 1; reads < 400 && timestamp < 1000000; ++timestamp) {
        std::memset(frame.data(), static_cast<int>(timestamp & 0xFF), frame.size());
        buffer.store(frame.data(), frame.size(), timestamp);
    }
    done = true;
    every.join();
    only_new.join();
    EXPECT_GE(reads, 400);
    EXPECT_EQ(torn, 0);
}
} // namespace
