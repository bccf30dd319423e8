// The fake camera layer stands in for the real one in other components' tests, so the behaviour
// they rely on is pinned here.
#include <gtest/gtest.h>

#include "tests/camera/fake_jai_sdk.h"

namespace {
std::string camera_id(FACTORY_HANDLE factory, int index) {
    char buffer[512] = {};
    std::uint32_t size = sizeof buffer;
    if (J_Factory_GetCameraIDByIndex(factory, index, buffer, &size) != J_ST_SUCCESS)
        return "error";
    return buffer;
}

std::string camera_info(FACTORY_HANDLE factory, const std::string& id, int item) {
    char buffer[512] = {};
    std::uint32_t size = sizeof buffer;
    if (J_Factory_GetCameraInfo(factory, id.c_str(), item, buffer, &size) != J_ST_SUCCESS)
        return "error";
    return buffer;
}

class fake_sdk_test : public testing::Test {
protected:
    void SetUp() override {
        fake_sdk::reset();
        fake_sdk::add_camera({"INT=>FD::a", "ModelA", "127.0.0.21"});
        fake_sdk::add_camera({"INT=>SD::b", "ModelB", "127.0.0.22"});
        ASSERT_EQ(J_Factory_Open("", &factory_), J_ST_SUCCESS);
    }
    void TearDown() override {
        if (factory_)
            J_Factory_Close(factory_);
        EXPECT_EQ(fake_sdk::misuses(), std::vector<std::string>{});
    }
    FACTORY_HANDLE factory_ = nullptr;
};

TEST_F(fake_sdk_test, ListsTheScriptedCamerasInOrder) {
    std::uint32_t count = 0;
    ASSERT_EQ(J_Factory_GetNumOfCameras(factory_, &count), J_ST_SUCCESS);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(camera_id(factory_, 0), "INT=>FD::a");
    EXPECT_EQ(camera_id(factory_, 1), "INT=>SD::b");
    EXPECT_EQ(camera_id(factory_, 2), "error");
    EXPECT_EQ(camera_info(factory_, "INT=>SD::b", CAM_INFO_MODELNAME), "ModelB");
    EXPECT_EQ(camera_info(factory_, "INT=>SD::b", CAM_INFO_IP), "127.0.0.22");
}

TEST_F(fake_sdk_test, ExposureModeAcceptsOnlyTheTenModes) {
    CAM_HANDLE camera = nullptr;
    ASSERT_EQ(J_Camera_Open(factory_, "INT=>FD::a", &camera, 0), J_ST_SUCCESS);
    EXPECT_EQ(J_Camera_SetValueString(camera, "ExposureMode", "ContinuousPreset9"), J_ST_SUCCESS);
    EXPECT_NE(J_Camera_SetValueString(camera, "ExposureMode", "ContinuousPreset10"), J_ST_SUCCESS);
    EXPECT_NE(J_Camera_SetValueString(camera, "ExposureMode", "off"), J_ST_SUCCESS);
    EXPECT_EQ(fake_sdk::fake_camera("INT=>FD::a").exposure_mode(), "ContinuousPreset9");
    J_Camera_Close(camera);
}

TEST_F(fake_sdk_test, FailuresComeAfterTheSkippedCallsForTheGivenTimes) {
    fake_sdk::fail(fake_sdk::step::camera_id, 1, 2);
    EXPECT_EQ(camera_id(factory_, 0), "INT=>FD::a");
    EXPECT_EQ(camera_id(factory_, 0), "error");
    EXPECT_EQ(camera_id(factory_, 0), "error");
    EXPECT_EQ(camera_id(factory_, 0), "INT=>FD::a");
    fake_sdk::fail(fake_sdk::step::factory_open, 0, 0);
    FACTORY_HANDLE other = nullptr;
    EXPECT_NE(J_Factory_Open("", &other), J_ST_SUCCESS);
    EXPECT_NE(J_Factory_Open("", &other), J_ST_SUCCESS);
}

TEST_F(fake_sdk_test, StaleHandlesAreRefusedAndNoted) {
    CAM_HANDLE camera = nullptr;
    ASSERT_EQ(J_Camera_Open(factory_, "INT=>SD::b", &camera, 0), J_ST_SUCCESS);
    ASSERT_EQ(J_Camera_Close(camera), J_ST_SUCCESS);
    EXPECT_NE(J_Camera_ExecuteCommand(camera, "AcquisitionStart"), J_ST_SUCCESS);
    EXPECT_EQ(fake_sdk::misuses().size(), 1u);
    fake_sdk::reset();
    factory_ = nullptr;
}
} // namespace
