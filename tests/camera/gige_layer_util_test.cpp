#include <cstring>
#include <numeric>
#include <vector>

#include <gtest/gtest.h>

#include "camera/gige_layer_util.h"
#include "camera/jai_sdk.h"

namespace {

constexpr std::uint64_t mono8 = 0x01080001;
constexpr std::uint64_t mono16 = 0x01100007;
constexpr std::uint64_t mono12_packed = 0x010C0006;

J_tIMAGE_INFO image_of(std::vector<std::uint8_t>& bytes, std::uint64_t type, std::uint32_t x,
                       std::uint32_t y) {
    J_tIMAGE_INFO image{};
    image.iPixelType = type;
    image.iSizeX = x;
    image.iSizeY = y;
    image.iImageSize = static_cast<std::uint32_t>(bytes.size());
    image.pImageBuffer = bytes.data();
    return image;
}

std::vector<std::uint8_t> counting(std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    std::iota(bytes.begin(), bytes.end(), std::uint8_t{1});
    return bytes;
}

TEST(camera_id, names_the_socket_driver_and_gives_back_the_device_id) {
    const std::string id = camera_id_for_device("Tresvik-Tresvik-CamSim-CS01");
    EXPECT_NE(id.find("INT=>SD"), std::string::npos);
    EXPECT_EQ(device_id_of_camera(id), "Tresvik-Tresvik-CamSim-CS01");
}

TEST(camera_id, keeps_device_ids_with_spaces_and_markers_whole) {
    const std::string device = "Acme Corp-GX 10 , DEV=>x-7";
    EXPECT_EQ(device_id_of_camera(camera_id_for_device(device)), device);
}

TEST(camera_id, without_a_device_field_names_no_device) {
    EXPECT_EQ(device_id_of_camera("TL=>GevTL , INT=>FD"), "");
}

TEST(copy_text, fills_the_buffer_and_reports_the_bytes_used) {
    char buffer[16];
    std::uint32_t size = sizeof buffer;
    EXPECT_EQ(copy_text("model", buffer, &size), J_ST_SUCCESS);
    EXPECT_STREQ(buffer, "model");
    EXPECT_EQ(size, 6u);
}

TEST(copy_text, cuts_a_text_too_long_and_reports_an_error_with_the_size_needed) {
    char buffer[4];
    std::uint32_t size = sizeof buffer;
    EXPECT_NE(copy_text("127.0.0.1", buffer, &size), J_ST_SUCCESS);
    EXPECT_STREQ(buffer, "127");
    EXPECT_EQ(size, 10u);
}

TEST(copy_text, writes_nothing_into_an_empty_buffer) {
    char buffer[1] = {'x'};
    std::uint32_t size = 0;
    EXPECT_NE(copy_text("id", buffer, &size), J_ST_SUCCESS);
    EXPECT_EQ(buffer[0], 'x');
}

TEST(image_rotate, turns_an_8_bit_image_by_180_degrees) {
    std::vector<std::uint8_t> bytes = {1, 2, 3, 4, 5, 6};
    J_tIMAGE_INFO image = image_of(bytes, mono8, 3, 2);
    ASSERT_EQ(J_Image_Rotate(&image, J_ROTATE_180), J_ST_SUCCESS);
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{6, 5, 4, 3, 2, 1}));
}

TEST(image_rotate, moves_16_bit_pixels_whole) {
    std::vector<std::uint8_t> bytes = {0x11, 0x12, 0x21, 0x22, 0x31, 0x32};
    J_tIMAGE_INFO image = image_of(bytes, mono16, 3, 1);
    ASSERT_EQ(J_Image_Rotate(&image, J_ROTATE_180), J_ST_SUCCESS);
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{0x31, 0x32, 0x21, 0x22, 0x11, 0x12}));
}

TEST(image_rotate, twice_gives_the_image_back) {
    std::vector<std::uint8_t> bytes = counting(7 * 5 * 2);
    const std::vector<std::uint8_t> original = bytes;
    J_tIMAGE_INFO image = image_of(bytes, mono16, 7, 5);
    ASSERT_EQ(J_Image_Rotate(&image, J_ROTATE_180), J_ST_SUCCESS);
    ASSERT_NE(bytes, original);
    ASSERT_EQ(J_Image_Rotate(&image, J_ROTATE_180), J_ST_SUCCESS);
    EXPECT_EQ(bytes, original);
}

TEST(image_rotate, takes_a_pixel_type_of_fewer_than_8_bits_as_8) {
    std::vector<std::uint8_t> bytes = {1, 2, 3};
    J_tIMAGE_INFO image = image_of(bytes, 0, 3, 1);
    ASSERT_EQ(J_Image_Rotate(&image, J_ROTATE_180), J_ST_SUCCESS);
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{3, 2, 1}));
}

TEST(image_rotate, refuses_an_image_larger_than_its_buffer) {
    std::vector<std::uint8_t> bytes = counting(8);
    const std::vector<std::uint8_t> original = bytes;
    J_tIMAGE_INFO image = image_of(bytes, mono16, 4, 2);
    EXPECT_NE(J_Image_Rotate(&image, J_ROTATE_180), J_ST_SUCCESS);
    EXPECT_EQ(bytes, original);
}

TEST(image_rotate, refuses_packed_pixels) {
    std::vector<std::uint8_t> bytes = counting(6);
    const std::vector<std::uint8_t> original = bytes;
    J_tIMAGE_INFO image = image_of(bytes, mono12_packed, 4, 1);
    EXPECT_NE(J_Image_Rotate(&image, J_ROTATE_180), J_ST_SUCCESS);
    EXPECT_EQ(bytes, original);
}

TEST(image_rotate, refuses_other_rotations) {
    std::vector<std::uint8_t> bytes = counting(4);
    J_tIMAGE_INFO image = image_of(bytes, mono8, 2, 2);
    EXPECT_NE(J_Image_Rotate(&image, 1), J_ST_SUCCESS);
    EXPECT_EQ(bytes, counting(4));
}

} // namespace
