#include <atomic>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "camera/grab_modes.h"
#include "tests/camera/fake_jai_sdk.h"

namespace {
class frame_geometry_test : public testing::Test {
protected:
    void SetUp() override {
        fake_sdk::reset();
        camera_ = fake_sdk::add_camera({"INT=>SD::cam", "Model", "127.0.0.1", 640, 480, 0});
        ASSERT_EQ(J_Factory_Open("", &factory_), J_ST_SUCCESS);
        ASSERT_EQ(J_Camera_Open(factory_, camera_.id().c_str(), &handle_, 0), J_ST_SUCCESS);
    }
    void TearDown() override {
        J_Camera_Close(handle_);
        J_Factory_Close(factory_);
        EXPECT_TRUE(fake_sdk::misuses().empty());
    }

    std::string geometry_error() {
        try {
            read_frame_geometry(handle_);
        } catch (const std::runtime_error& error) {
            return error.what();
        }
        return "no error";
    }

    fake_sdk::fake_camera camera_{""};
    FACTORY_HANDLE factory_ = nullptr;
    CAM_HANDLE handle_ = nullptr;
};

TEST_F(frame_geometry_test, ReadsWidthHeightAndFormatWithItsBitsPerPixel) {
    camera_.set_int("PixelFormat", fake_sdk::mono12_packed);
    const frame_geometry geometry = read_frame_geometry(handle_);
    EXPECT_EQ(geometry.width, 640);
    EXPECT_EQ(geometry.height, 480);
    EXPECT_EQ(geometry.pixel_format, fake_sdk::mono12_packed);
    EXPECT_EQ(geometry.bits_per_pixel, 12);
    const std::vector<std::string> reads = {"J_Camera_GetValueInt64 Width",
                                            "J_Camera_GetValueInt64 Height",
                                            "J_Camera_GetValueInt64 PixelFormat"};
    const auto all = fake_sdk::calls();
    EXPECT_EQ(std::vector<std::string>(all.end() - 3, all.end()), reads);
}

TEST_F(frame_geometry_test, BitsPerPixelAreTheThirdByteButAtLeastEight) {
    EXPECT_EQ(bits_per_pixel_of(0), 8);
    EXPECT_EQ(bits_per_pixel_of(0x01040001), 8);
    EXPECT_EQ(bits_per_pixel_of(fake_sdk::mono8), 8);
    EXPECT_EQ(bits_per_pixel_of(fake_sdk::mono16), 16);
    EXPECT_EQ(bits_per_pixel_of(0x02180014), 24);
    EXPECT_EQ(bits_per_pixel_of(0x7F0C0000), 12);
}

TEST_F(frame_geometry_test, EachFailedReadHasItsOwnError) {
    fake_sdk::fail(fake_sdk::step::read_width);
    EXPECT_EQ(geometry_error(), "Error getting frame width.");
    fake_sdk::fail(fake_sdk::step::read_height);
    EXPECT_EQ(geometry_error(), "Error getting frame height.");
    fake_sdk::fail(fake_sdk::step::read_pixel_format);
    EXPECT_EQ(geometry_error(), "Error getting pixel format.");
    EXPECT_EQ(geometry_error(), "no error");
}

TEST_F(frame_geometry_test, BufferIsMadeFromTheCameraGeometry) {
    camera_.set_int("PixelFormat", fake_sdk::mono16);
    const frame_buffer buffer(handle_);
    EXPECT_EQ(buffer.image.rows, 480);
    EXPECT_EQ(buffer.image.cols, 640);
    EXPECT_EQ(buffer.image.type(), CV_8UC1);
    EXPECT_EQ(buffer.bits_per_pixel, 16);
    EXPECT_EQ(buffer.frame_bytes(), 640 * 480 * 2);
    EXPECT_EQ(buffer.timestamp, 0u);
    EXPECT_EQ(cv::countNonZero(buffer.image), 0);
}

frame_geometry geometry_of(std::int64_t width, std::int64_t height, std::int64_t format) {
    return frame_geometry{width, height, format, bits_per_pixel_of(format)};
}

std::vector<std::uint8_t> pixels_of(const cv::Mat& image) {
    return std::vector<std::uint8_t>(image.data, image.data + image.total());
}

TEST(frame_buffer, StoresEightBitFramesWithTheirTimestamp) {
    frame_buffer buffer(geometry_of(4, 2, fake_sdk::mono8));
    const std::vector<std::uint8_t> frame = {1, 2, 3, 4, 5, 6, 7, 8};
    buffer.store(frame.data(), frame.size(), 77);
    EXPECT_EQ(pixels_of(buffer.image), frame);
    EXPECT_EQ(buffer.timestamp, 77u);
}

TEST(frame_buffer, SixteenBitFramesKeepTheHighByte) {
    frame_buffer buffer(geometry_of(3, 1, fake_sdk::mono16));
    // Little-endian 0x12AB, 0xFF01, 0x0080.
    const std::vector<std::uint8_t> frame = {0xAB, 0x12, 0x01, 0xFF, 0x80, 0x00};
    buffer.store(frame.data(), frame.size(), 1);
    EXPECT_EQ(pixels_of(buffer.image), (std::vector<std::uint8_t>{0x12, 0xFF, 0x00}));
}

TEST(frame_buffer, TwelveBitFramesInSixteenBitsKeepTheirHighEightBits) {
    frame_buffer buffer(geometry_of(2, 1, fake_sdk::mono12));
    // 0x0ABC and 0x0FFF: their high eight of twelve bits are 0xAB and 0xFF.
    const std::vector<std::uint8_t> frame = {0xBC, 0x0A, 0xFF, 0x0F};
    buffer.store(frame.data(), frame.size(), 1);
    EXPECT_EQ(pixels_of(buffer.image), (std::vector<std::uint8_t>{0xAB, 0xFF}));
}

TEST(frame_buffer, PackedTwelveBitFramesKeepTheHighEightBits) {
    frame_buffer buffer(geometry_of(3, 1, fake_sdk::mono12_packed));
    // Pixels 0xAB1, 0xCD2, 0xEF3: bytes AB, 21, CD, EF, x3 (the last pair half used).
    const std::vector<std::uint8_t> frame = {0xAB, 0x21, 0xCD, 0xEF, 0x03};
    buffer.store(frame.data(), frame.size(), 1);
    EXPECT_EQ(pixels_of(buffer.image), (std::vector<std::uint8_t>{0xAB, 0xCD, 0xEF}));
}

TEST(frame_buffer, LsbPackedTenBitFramesKeepTheHighEightBits) {
    // Mono10p: pixels 0x3FF and 0x155 packed from bit 0 upwards.
    frame_buffer buffer(geometry_of(2, 1, 0x010A0046));
    const unsigned stream = 0x3FF | (0x155u << 10);
    const std::vector<std::uint8_t> frame = {static_cast<std::uint8_t>(stream),
                                             static_cast<std::uint8_t>(stream >> 8),
                                             static_cast<std::uint8_t>(stream >> 16)};
    buffer.store(frame.data(), frame.size(), 1);
    EXPECT_EQ(pixels_of(buffer.image), (std::vector<std::uint8_t>{0xFF, 0x55}));
}

// Two lines each followed by padding bytes (0xEE) that must not show in the image.
TEST(frame_buffer, PaddedLinesAreStoredWithoutTheirPadding) {
    const struct {
        std::int64_t format;
        std::int64_t width;
        std::size_t padding;
        std::vector<std::uint8_t> source;
        std::vector<std::uint8_t> pixels;
    } cases[] = {
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
    for (const auto& c : cases) {
        frame_buffer buffer(geometry_of(c.width, 2, c.format));
        buffer.store(c.source.data(), c.source.size(), 1, c.padding);
        EXPECT_EQ(pixels_of(buffer.image), c.pixels) << c.format;
    }
}

// Each source below is allocated at exactly its size, so AddressSanitizer reports any read past
// it; the canary bytes after the image catch writes past the buffer.
TEST(frame_buffer, ShortOrLongSourcesStayInsideBothBuffers) {
    for (std::int64_t format : {fake_sdk::mono8, fake_sdk::mono16, fake_sdk::mono12_packed})
        for (std::size_t padding : {0, 3}) {
            frame_buffer buffer(geometry_of(5, 3, format));
            const cv::Mat guarded(1, 15 + 8, CV_8UC1, cv::Scalar(0x5A));
            buffer.image = guarded.colRange(0, 15).reshape(1, 3);
            for (std::size_t size : {0, 7, 12, 1000}) {
                std::vector<std::uint8_t> source(size, 0xEE);
                buffer.store(source.data(), size, size, padding);
                EXPECT_EQ(buffer.timestamp, size);
            }
            EXPECT_EQ(cv::countNonZero(guarded.colRange(15, 23) != 0x5A), 0) << format;
            EXPECT_EQ(buffer.image.at<std::uint8_t>(2, 4), 0xEE) << format << " " << padding;
        }
}

TEST(frame_buffer, CopyOutGivesAPrivateCopyAndTheTimestamp) {
    frame_buffer buffer(geometry_of(2, 2, fake_sdk::mono8));
    const std::vector<std::uint8_t> frame = {9, 8, 7, 6};
    buffer.store(frame.data(), frame.size(), 5);
    cv::Mat copy;
    EXPECT_EQ(buffer.copy_out(copy), 5u);
    const std::vector<std::uint8_t> other = {0, 0, 0, 0};
    buffer.store(other.data(), other.size(), 6);
    EXPECT_EQ(pixels_of(copy), frame);
}

TEST(frame_buffer, CopyOutIfNewCopiesOnlyAFrameOtherThanTheKnownOne) {
    frame_buffer buffer(geometry_of(2, 2, fake_sdk::mono8));
    const std::vector<std::uint8_t> frame = {9, 8, 7, 6};
    buffer.store(frame.data(), frame.size(), 5);
    cv::Mat copy;
    EXPECT_EQ(buffer.copy_out_if_new(copy, 5), 5u);
    EXPECT_TRUE(copy.empty()) << "the known frame is not copied again";
    EXPECT_EQ(buffer.copy_out_if_new(copy, 4), 5u);
    EXPECT_EQ(pixels_of(copy), frame);
    const std::vector<std::uint8_t> other = {1, 2, 3, 4};
    buffer.store(other.data(), other.size(), 6);
    EXPECT_EQ(buffer.copy_out_if_new(copy, 6), 6u);
    EXPECT_EQ(pixels_of(copy), frame) << "left as it was";
    EXPECT_EQ(buffer.copy_out_if_new(copy, 5), 6u);
    EXPECT_EQ(pixels_of(copy), other);
}

// A writer stores uniform frames whose value is their timestamp's low byte; readers must only
// ever see one whole frame with its own timestamp.
TEST(frame_buffer, ReadersNeverSeeAHalfWrittenFrame) {
    frame_buffer buffer(geometry_of(1920, 120, fake_sdk::mono8));
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::atomic<int> reads{0};
    auto reader = [&] {
        cv::Mat copy;
        while (!done) {
            const std::uint64_t timestamp = buffer.copy_out(copy);
            const auto value = static_cast<std::uint8_t>(timestamp);
            if (cv::countNonZero(copy != value) != 0)
                ++torn;
            ++reads;
        }
    };
    std::thread first(reader), second(reader);
    std::vector<std::uint8_t> frame(buffer.image.total());
    for (std::uint64_t timestamp = 1; reads < 200 && timestamp < 1000000; ++timestamp) {
        std::memset(frame.data(), static_cast<int>(timestamp & 0xFF), frame.size());
        buffer.store(frame.data(), frame.size(), timestamp);
    }
    done = true;
    first.join();
    second.join();
    EXPECT_GE(reads, 200);
    EXPECT_EQ(torn, 0);
}
} // namespace
