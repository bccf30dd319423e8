#include <vector>

#include <gtest/gtest.h>

#include "camera/gige_layer_util.h"
#include "camera/jai_sdk.h"

namespace {

TEST(camera_id, names_the_socket_driver_and_gives_back_any_device_id_whole) {
    for (const std::string device : {"Tresvik-Tresvik-CamSim-CS01", "Acme Corp-GX 10 , DEV=>x-7"}) {
        const std::string id = camera_id_for_device(device);
        EXPECT_NE(id.find("INT=>SD"), std::string::npos);
        EXPECT_EQ(device_id_of_camera(id), device);
    }
    EXPECT_EQ(device_id_of_camera("TL=>GevTL , INT=>FD"), "");
}

// A text that does not fit is cut and reported as an error; the size becomes what it needs.
TEST(copy_text, fills_the_buffer_or_cuts_the_text_and_fails) {
    const struct {
        std::uint32_t room;
        J_STATUS_TYPE status;
        const char* copied;
    } cases[] = {{16, J_ST_SUCCESS, "127.0.0.1"}, {4, J_ST_ERROR, "127"}, {0, J_ST_ERROR, "x"}};
    for (const auto& c : cases) {
        char buffer[16] = "x";
        std::uint32_t size = c.room;
        EXPECT_EQ(copy_text("127.0.0.1", buffer, &size), c.status);
        EXPECT_STREQ(buffer, c.copied);
        EXPECT_EQ(size, 10u);
    }
}

// The rows whose bytes stay as they are must be refused.
TEST(image_rotate, turns_whole_pixels_by_180_degrees_and_refuses_what_it_cannot_turn) {
    const std::uint64_t mono8 = 0x01080001, mono16 = 0x01100007, mono12_packed = 0x010C0006;
    const struct {
        std::uint64_t type;
        std::uint32_t width, height;
        int kind;
        std::vector<std::uint8_t> bytes, turned;
    } cases[] = {
        {mono8, 3, 2, J_ROTATE_180, {1, 2, 3, 4, 5, 6}, {6, 5, 4, 3, 2, 1}},
        {mono16, 3, 1, J_ROTATE_180, {1, 2, 3, 4, 5, 6}, {5, 6, 3, 4, 1, 2}},
        {0, 3, 1, J_ROTATE_180, {1, 2, 3}, {3, 2, 1}}, // fewer than 8 bits count as 8
        {mono16, 4, 2, J_ROTATE_180, {1, 2, 3, 4, 5, 6, 7, 8}, {1, 2, 3, 4, 5, 6, 7, 8}},
        {mono12_packed, 4, 1, J_ROTATE_180, {1, 2, 3, 4, 5, 6}, {1, 2, 3, 4, 5, 6}},
        {mono8, 2, 2, 1, {1, 2, 3, 4}, {1, 2, 3, 4}},
    };
    for (auto c : cases) {
        J_tIMAGE_INFO image{};
        image.iPixelType = c.type;
        image.iSizeX = c.width;
        image.iSizeY = c.height;
        image.iImageSize = static_cast<std::uint32_t>(c.bytes.size());
        image.pImageBuffer = c.bytes.data();
        EXPECT_EQ(J_Image_Rotate(&image, c.kind) == J_ST_SUCCESS, c.bytes != c.turned) << c.type;
        EXPECT_EQ(c.bytes, c.turned) << c.type;
    }
}

} // namespace
