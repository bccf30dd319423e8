#include "recorder/recorder.h"

#include <gtest/gtest.h>

#include "recording/session_store.h"
#include "tests/camera/fake_jai_sdk.h"
#include "tests/support/event_recorder.h"

// Commands return at once and run in order on the recorder's thread, the first here held inside
// the camera layer meanwhile; the live frame is read while the capture runs, and the camera and
// the camera layer are closed when the recorder goes.
TEST(recorder, commands_run_in_order_on_its_thread_while_the_caller_reads_the_live_frame) {
    fake_sdk::reset();
    const auto camera = fake_sdk::add_camera({"TL=>GevTL , INT=>SD , DEV=>cam0"});
    event_recorder owner;
    session_store sessions;
    {
        recorder machinery(&owner, sessions);
        fake_sdk::hold("J_Factory_UpdateCameraList");
        machinery.find_cameras(L"SocketDriver");
        machinery.start_capture({L"правый", false});
        ASSERT_TRUE(eventually([] { return fake_sdk::count_calls("J_Factory_UpdateCameraList"); }));
        EXPECT_TRUE(machinery.state().busy);
        EXPECT_FALSE(machinery.state().camera_open);
        fake_sdk::release_hold();
        ASSERT_TRUE(eventually([&] { return camera.acquiring(); }));
        ASSERT_TRUE(camera.deliver_frame(std::vector<std::uint8_t>(32, 7), 1));
        cv::Mat image;
        wxString overlay;
        ASSERT_TRUE(eventually([&] {
            return machinery.copy_live_frame(image, overlay) && image.at<std::uint8_t>(3, 7) == 7;
        }));
        EXPECT_EQ(overlay, L"правый");
        machinery.stop_capture();
        ASSERT_TRUE(eventually([&] { return !machinery.state().busy; }));
        EXPECT_FALSE(machinery.copy_live_frame(image, overlay));
        EXPECT_TRUE(machinery.state().camera_open);
        EXPECT_EQ(machinery.state().cameras,
                  std::vector<std::wstring>{L"FakeCam 127.0.0.1 [SocketDriver]"});
    }
    const fake_sdk::resources open = fake_sdk::open_resources();
    EXPECT_EQ(open.factories + open.cameras + open.streams, 0u);
}
