#include <functional>
#include <stdexcept>

#include <gtest/gtest.h>

#include "camera/camera_access.h"
#include "tests/camera/fake_jai_sdk.h"

namespace {
struct access_fixture : testing::Test {
    FACTORY_HANDLE factory = nullptr;
    access_fixture() {
        fake_sdk::reset();
        factory = open_factory();
    }
    ~access_fixture() override { J_Factory_Close(factory); }
};

std::string error_of(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "no error";
}
} // namespace

TEST(camera_access, descriptions_name_the_driver_by_the_transport_marker) {
    EXPECT_EQ(driver_tag("TL=>GevTL , INT=>FD , DEV=>cam"), "[FilterDriver]");
    EXPECT_EQ(driver_tag("TL=>GevTL , INT=>SD , DEV=>cam"), "[SocketDriver]");
    EXPECT_EQ(driver_tag("TL=>GevTL , DEV=>cam"), "[UnknownDriver]");
    EXPECT_EQ(camera_description("GO-5000M", "127.0.0.10", "INT=>SD"),
              "GO-5000M 127.0.0.10 [SocketDriver]");
}

TEST(camera_access, preferred_camera_is_the_first_whose_description_holds_the_driver) {
    const camera_list both = {{"GO 127.0.0.11 [FilterDriver]", "fd"},
                              {"GO 127.0.0.11 [SocketDriver]", "sd"}};
    EXPECT_EQ(preferred_description(both, "SocketDriver"), "GO 127.0.0.11 [SocketDriver]");
    EXPECT_EQ(preferred_description(both, "FilterDriver"), "GO 127.0.0.11 [FilterDriver]");
    EXPECT_EQ(preferred_description(both, "SoketDriver"), "GO 127.0.0.11 [FilterDriver]");
    EXPECT_EQ(preferred_description(both, ""), "GO 127.0.0.11 [FilterDriver]");
    EXPECT_EQ(preferred_description({{"SocketDriverCam 1 [FilterDriver]", "x"}}, "SocketDriver"),
              "SocketDriverCam 1 [FilterDriver]");
    EXPECT_EQ(preferred_description({}, "SocketDriver"), "");
}

// Discovery is slow (about a second over the network), so one enumeration runs it once, however
// many cameras it finds. Of two cameras with one description the first listed stays.
TEST_F(access_fixture, enumeration_discovers_once_and_describes_each_camera) {
    fake_sdk::add_camera({"TL=>GevTL , INT=>SD , DEV=>b", "Beta", "127.0.0.2"});
    fake_sdk::add_camera({"TL=>GevTL , INT=>FD , DEV=>a", "Alpha", "127.0.0.3"});
    fake_sdk::add_camera({"TL=>GevTL , INT=>SD , DEV=>c", "Beta", "127.0.0.2"});
    EXPECT_EQ(enumerate_cameras(factory),
              (camera_list{{"Alpha 127.0.0.3 [FilterDriver]", "TL=>GevTL , INT=>FD , DEV=>a"},
                           {"Beta 127.0.0.2 [SocketDriver]", "TL=>GevTL , INT=>SD , DEV=>b"}}));
    EXPECT_EQ(fake_sdk::count_calls("J_Factory_Open"), 2u) << "the fixture's and one reopening";
    EXPECT_EQ(fake_sdk::count_calls("J_Factory_UpdateCameraList"), 1u);
    EXPECT_EQ(fake_sdk::count_calls("J_Factory_GetNumOfCameras"), 1u);
    EXPECT_EQ(fake_sdk::open_resources().factories, 1u);
}

TEST_F(access_fixture, each_enumeration_step_fails_with_its_own_text) {
    const std::pair<const char*, const char*> call_text[] = {
        {"J_Factory_Open", "Error opening JAI factory."},
        {"J_Factory_UpdateCameraList", "Error updating camera list."},
        {"J_Factory_GetNumOfCameras", "Error getting number of cameras."},
        {"J_Factory_GetCameraIDByIndex", "Error getting camera ID."},
        {"J_Factory_GetCameraInfo 2", "Error getting camera model info."},
        {"J_Factory_GetCameraInfo 1001", "Error getting camera IP info."},
    };
    fake_sdk::add_camera({"TL=>GevTL , INT=>SD , DEV=>a"});
    for (const auto& [call, text] : call_text) {
        fake_sdk::fail(call);
        EXPECT_EQ(error_of([&] { enumerate_cameras(factory); }), text);
        if (!factory)
            factory = open_factory();
    }
}

TEST_F(access_fixture, a_camera_is_open_while_its_object_lives_and_takes_exposure_modes) {
    const auto camera = fake_sdk::add_camera({"TL=>GevTL , INT=>SD , DEV=>a"});
    fake_sdk::fail("J_Camera_Open");
    EXPECT_EQ(error_of([&] { JAI_Camera(factory, camera.id()); }), "Error opening camera.");
    {
        JAI_Camera open(factory, camera.id());
        EXPECT_EQ(fake_sdk::open_resources().cameras, 1u);
        set_exposure_mode(open.handle(), "ContinuousPreset4");
        EXPECT_EQ(camera.exposure_mode(), "ContinuousPreset4");
        fake_sdk::fail("J_Camera_SetValueString ExposureMode");
        EXPECT_EQ(error_of([&] { set_exposure_mode(open.handle(), "Off"); }),
                  "Error setting exposure mode.");
    }
    EXPECT_EQ(fake_sdk::open_resources().cameras, 0u);
    EXPECT_EQ(camera_layer_version(), "fake camera layer");
}
