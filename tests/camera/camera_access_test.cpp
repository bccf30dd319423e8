#include <gtest/gtest.h>
#include <stdexcept>

#include "camera/camera_access.h"
#include "tests/camera/fake_jai_sdk.h"

namespace {
using fake_sdk::step;

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

TEST(camera_access, driver_tag_follows_the_transport_marker) {
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
// many cameras it finds.
TEST_F(access_fixture, enumeration_discovers_once_and_describes_each_camera) {
    fake_sdk::add_camera({"TL=>GevTL , INT=>SD , DEV=>b", "Beta", "127.0.0.2"});
    fake_sdk::add_camera({"TL=>GevTL , INT=>FD , DEV=>a", "Alpha", "127.0.0.3"});
    const camera_list cameras = enumerate_cameras(factory);
    ASSERT_EQ(cameras.size(), 2u);
    EXPECT_EQ(cameras.begin()->first, "Alpha 127.0.0.3 [FilterDriver]");
    EXPECT_EQ(cameras.begin()->second, "TL=>GevTL , INT=>FD , DEV=>a");
    EXPECT_EQ(std::next(cameras.begin())->first, "Beta 127.0.0.2 [SocketDriver]");
    EXPECT_EQ(fake_sdk::count_calls("J_Factory_Open"), 2u) << "the fixture's and one reopening";
    EXPECT_EQ(fake_sdk::count_calls("J_Factory_UpdateCameraList"), 1u);
    EXPECT_EQ(fake_sdk::count_calls("J_Factory_GetNumOfCameras"), 1u);
    EXPECT_EQ(fake_sdk::open_resources().factories, 1u);
}

TEST_F(access_fixture, a_second_camera_with_the_same_description_keeps_the_first_id) {
    fake_sdk::add_camera({"TL=>GevTL , INT=>SD , DEV=>one", "Same", "127.0.0.1"});
    fake_sdk::add_camera({"TL=>GevTL , INT=>SD , DEV=>two", "Same", "127.0.0.1"});
    const camera_list cameras = enumerate_cameras(factory);
    ASSERT_EQ(cameras.size(), 1u);
    EXPECT_EQ(cameras.begin()->second, "TL=>GevTL , INT=>SD , DEV=>one");
}

TEST_F(access_fixture, each_enumeration_step_fails_with_its_own_text) {
    const struct {
        step at;
        const char* text;
    } cases[] = {
        {step::factory_open, "Error opening JAI factory."},
        {step::update_list, "Error updating camera list."},
        {step::camera_count, "Error getting number of cameras."},
        {step::camera_id, "Error getting camera ID."},
        {step::camera_model, "Error getting camera model info."},
        {step::camera_ip, "Error getting camera IP info."},
    };
    fake_sdk::add_camera({"TL=>GevTL , INT=>SD , DEV=>a"});
    for (const auto& c : cases) {
        fake_sdk::fail(c.at);
        EXPECT_EQ(error_of([&] { enumerate_cameras(factory); }), c.text);
        if (!factory)
            factory = open_factory();
    }
}

TEST_F(access_fixture, opening_and_exposure_failures_have_their_texts) {
    const auto camera = fake_sdk::add_camera({"TL=>GevTL , INT=>SD , DEV=>a"});
    fake_sdk::fail(step::camera_open);
    EXPECT_EQ(error_of([&] { JAI_Camera(factory, camera.id()); }), "Error opening camera.");
    JAI_Camera open(factory, camera.id());
    set_exposure_mode(open.handle(), "ContinuousPreset4");
    EXPECT_EQ(camera.exposure_mode(), "ContinuousPreset4");
    EXPECT_EQ(error_of([&] { set_exposure_mode(open.handle(), "Auto"); }),
              "Error setting exposure mode.");
}

TEST_F(access_fixture, the_camera_closes_with_its_object) {
    const auto camera = fake_sdk::add_camera({"TL=>GevTL , INT=>SD , DEV=>a"});
    {
        JAI_Camera open(factory, camera.id());
        EXPECT_EQ(fake_sdk::open_resources().cameras, 1u);
    }
    EXPECT_EQ(fake_sdk::open_resources().cameras, 0u);
    EXPECT_FALSE(camera_layer_version().empty());
}
