#include <stdexcept>

#include <gtest/gtest.h>

#include "camera/camera_access.h"
#include "camera/grab_modes.h"
#include "tests/camera/fake_jai_sdk.h"

namespace {
struct access_fixture : testing::Test {
    FACTORY_HANDLE factory = (fake_sdk::reset(), open_factory()); // on a fresh fake
    ~access_fixture() override { J_Factory_Close(factory); }
};
} // namespace

TEST(camera_access, descriptions_name_the_driver_and_the_first_holding_it_is_preferred) {
    EXPECT_EQ(driver_tag("TL=>GevTL , DEV=>cam"), "[UnknownDriver]");
    const camera_list both = {{"GO 127.0.0.11 [FilterDriver]", "fd"},
                              {"GO 127.0.0.11 [SocketDriver]", "sd"}};
    EXPECT_EQ(preferred_description(both, "SocketDriver"), "GO 127.0.0.11 [SocketDriver]");
    EXPECT_EQ(preferred_description(both, "FilterDriver"), "GO 127.0.0.11 [FilterDriver]");
    EXPECT_EQ(preferred_description(both, "SoketDriver"), "GO 127.0.0.11 [FilterDriver]");
    EXPECT_EQ(preferred_description({}, "SocketDriver"), "");
}

// Discovery is slow (about a second over the network), so one enumeration runs it once, however
// many cameras it finds. Of two cameras with one description the first listed stays. The camera
// is open while its object lives; the frame buffer is made from its geometry, read in the
// documented order.
TEST_F(access_fixture, enumeration_discovers_once_and_an_open_camera_gives_its_frame_geometry) {
    fake_sdk::add_camera({"TL=>GevTL , INT=>SD , DEV=>b", "Beta", "127.0.0.2"});
    const auto camera = fake_sdk::add_camera(
        {"TL=>GevTL , INT=>FD , DEV=>a", "Alpha", "127.0.0.3", 640, 480, J_GVSP_PIX_MONO12_PACKED});
    fake_sdk::add_camera({"TL=>GevTL , INT=>SD , DEV=>c", "Beta", "127.0.0.2"});
    EXPECT_EQ(enumerate_cameras(factory),
              (camera_list{{"Alpha 127.0.0.3 [FilterDriver]", "TL=>GevTL , INT=>FD , DEV=>a"},
                           {"Beta 127.0.0.2 [SocketDriver]", "TL=>GevTL , INT=>SD , DEV=>b"}}));
    EXPECT_EQ(fake_sdk::count_calls("J_Factory_Open"), 2u) << "the fixture's and one reopening";
    EXPECT_EQ(fake_sdk::count_calls("J_Factory_UpdateCameraList"), 1u);
    EXPECT_EQ(fake_sdk::count_calls("J_Factory_GetNumOfCameras"), 1u);
    EXPECT_EQ(fake_sdk::open_resources().factories, 1u);
    {
        JAI_Camera open(factory, camera.id);
        EXPECT_EQ(fake_sdk::open_resources().cameras, 1u);
        set_exposure_mode(open.handle(), "ContinuousPreset4");
        EXPECT_EQ(camera.exposure_mode(), "ContinuousPreset4");
        const frame_buffer buffer(open.handle());
        const auto calls = fake_sdk::calls();
        EXPECT_EQ(std::vector<std::string>(calls.end() - 3, calls.end()),
                  (std::vector<std::string>{"J_Camera_GetValueInt64 Width",
                                            "J_Camera_GetValueInt64 Height",
                                            "J_Camera_GetValueInt64 PixelFormat"}));
        EXPECT_EQ(buffer.image.size(), cv::Size(640, 480));
        EXPECT_EQ(buffer.image.type(), CV_8UC1);
        EXPECT_EQ(cv::countNonZero(buffer.image) + buffer.timestamp, 0u);
        EXPECT_EQ(buffer.pixel_format, J_GVSP_PIX_MONO12_PACKED);
        EXPECT_EQ(buffer.frame_bytes(), 640 * 480 * 12 / 8);
    }
    EXPECT_EQ(fake_sdk::open_resources().cameras, 0u);
    EXPECT_EQ(camera_layer_version(), "fake camera layer");
}

// Enumerating, opening, setting the mode and reading the geometry: the first step that fails
// throws its own text.
TEST_F(access_fixture, each_step_fails_with_its_own_text) {
    const std::pair<const char*, const char*> call_text[] = {
        {"J_Factory_Open", "Error opening JAI factory."},
        {"J_Factory_UpdateCameraList", "Error updating camera list."},
        {"J_Factory_GetNumOfCameras", "Error getting number of cameras."},
        {"J_Factory_GetCameraIDByIndex", "Error getting camera ID."},
        {"J_Factory_GetCameraInfo 2", "Error getting camera model info."},
        {"J_Factory_GetCameraInfo 1001", "Error getting camera IP info."},
        {"J_Camera_Open", "Error opening camera."},
        {"J_Camera_SetValueString ExposureMode", "Error setting exposure mode."},
        {"J_Camera_GetValueInt64 Width", "Error getting frame width."},
        {"J_Camera_GetValueInt64 Height", "Error getting frame height."},
        {"J_Camera_GetValueInt64 PixelFormat", "Error getting pixel format."},
    };
    const auto camera = fake_sdk::add_camera({"TL=>GevTL , INT=>SD , DEV=>a"});
    for (const auto& [call, text] : call_text) {
        fake_sdk::fail(call);
        try {
            enumerate_cameras(factory);
            JAI_Camera open(factory, camera.id);
            set_exposure_mode(open.handle(), "Off");
            frame_buffer{open.handle()};
            ADD_FAILURE() << call << " did not fail";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), text);
        }
        if (!factory)
            factory = open_factory();
    }
}
