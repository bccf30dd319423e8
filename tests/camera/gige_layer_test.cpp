#include <chrono>
#include <fstream>
#include <future>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "camera/gige_layer_util.h"
#include "camera/gige_receive.h"
#include "camera/jai_sdk.h"
#include "tests/support/temp_home.h"

namespace {

TEST(gige_layer_util, camera_ids_name_the_socket_driver_and_texts_are_copied_or_cut_and_fail) {
    for (const std::string device : {"Tresvik-Tresvik-CamSim-CS01", "Acme Corp-GX 10 , DEV=>x-7"}) {
        const std::string id = camera_id_for_device(device);
        EXPECT_NE(id.find("INT=>SD"), std::string::npos);
        EXPECT_EQ(device_id_of_camera(id), device);
    }
    EXPECT_EQ(device_id_of_camera("TL=>GevTL , INT=>FD"), "");
    // A text that does not fit is cut and reported as an error; the size becomes what it needs.
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
    const struct {
        std::uint64_t type;
        std::uint32_t width, height;
        int kind;
        std::vector<std::uint8_t> bytes, turned;
    } cases[] = {
        {J_GVSP_PIX_MONO8, 3, 2, J_ROTATE_180, {1, 2, 3, 4, 5, 6}, {6, 5, 4, 3, 2, 1}},
        {J_GVSP_PIX_MONO16, 3, 1, J_ROTATE_180, {1, 2, 3, 4, 5, 6}, {5, 6, 3, 4, 1, 2}},
        {0, 3, 1, J_ROTATE_180, {1, 2, 3}, {3, 2, 1}}, // fewer than 8 bits count as 8
        {J_GVSP_PIX_MONO16, 4, 2, J_ROTATE_180, {1, 2, 3, 4, 5, 6, 7, 8}, {1, 2, 3, 4, 5, 6, 7, 8}},
        {J_GVSP_PIX_MONO12_PACKED, 4, 1, J_ROTATE_180, {1, 2, 3, 4, 5, 6}, {1, 2, 3, 4, 5, 6}},
        {J_GVSP_PIX_MONO8, 2, 2, 1, {1, 2, 3, 4}, {1, 2, 3, 4}},
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

// The exit request stays, so one made before the waiter gets to its wait is not lost.
TEST(condition, a_wait_times_out_and_an_exit_wakes_the_waiter_and_ends_every_later_wait) {
    CONDITION_HANDLE condition = nullptr;
    ASSERT_EQ(J_Event_CreateCondition(&condition), J_ST_SUCCESS);
    const auto wait = [&](std::uint32_t timeout_ms) {
        std::uint32_t result = 12345;
        EXPECT_EQ(J_Event_WaitForCondition(condition, timeout_ms, &result), J_ST_SUCCESS);
        return result;
    };
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(wait(50), J_COND_WAIT_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(45));
    auto waiter = std::async(std::launch::async, [&] { return wait(10000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(J_Event_ExitCondition(condition), J_ST_SUCCESS);
    ASSERT_EQ(waiter.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(waiter.get(), J_COND_WAIT_EXIT);
    EXPECT_EQ(wait(10000), J_COND_WAIT_EXIT);
    J_Event_CloseCondition(condition);
}

TEST(receive_buffer, the_limit_is_read_and_only_a_frame_that_does_not_fit_is_warned_of) {
    temp_dir folder;
    const std::string path = folder.path() + "/rmem_max";
    std::ofstream(path) << "4194304\n";
    EXPECT_EQ(read_rmem_max_from(path), 4194304u);
    std::ofstream(path) << "unlimited\n";
    EXPECT_EQ(read_rmem_max_from(path), 0u);
    EXPECT_EQ(read_rmem_max_from(folder.path() + "/none"), 0u);
    EXPECT_EQ(receive_buffer_warning(4194304, 4194304), "");
    EXPECT_EQ(receive_buffer_warning(8388608, 2457600), "");
    EXPECT_EQ(receive_buffer_warning(0, 2457600), "");
    const std::string warning = receive_buffer_warning(212992, 2457600);
    for (const char* text : {"212992", "2457600", "sysctl -w net.core.rmem_max=3145728",
                             "line \"net.core.rmem_max=3145728\" to a file in /etc/sysctl.d/"})
        EXPECT_NE(warning.find(text), std::string::npos) << text;
}

} // namespace
