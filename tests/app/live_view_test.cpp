#include "app/live_view.h"

#include <gtest/gtest.h>
#include <wx/dcmemory.h>
#include <wx/frame.h>

namespace {
// A pane of 200 x 150 fed from `camera`, a frame of 64 x 48 of one grey, cut as the recorder cuts.
struct live_view_fixture : testing::Test {
    wxFrame* window = new wxFrame(nullptr, wxID_ANY, "test");
    live_frame camera{cv::Mat(48, 64, CV_8UC1, cv::Scalar(90)), 1, L"левый"};
    bool capturing = true;
    cv::Size asked;
    live_view* view = new live_view(window, wxID_ANY, [this](live_frame& frame, cv::Size size) {
        asked = size;
        if (capturing && frame.timestamp != camera.timestamp)
            frame = {camera.image.clone(), camera.timestamp, camera.overlay};
        return capturing;
    });
    live_view_fixture() { view->SetClientSize(200, 150); }
    ~live_view_fixture() override { window->Destroy(); }

    cv::Mat painted() {
        wxBitmap bitmap(200, 150);
        wxMemoryDC dc(bitmap);
        view->paint(dc);
        dc.SelectObject(wxNullBitmap);
        return cv::Mat(150, 200, CV_8UC3, bitmap.ConvertToImage().GetData()).clone();
    }
};

cv::Vec3b grey(int value) {
    return {uchar(value), uchar(value), uchar(value)};
}
} // namespace

// The frame at the top left in its grey, the overlay in green over it, the background around; a
// frame met again is not converted anew; without a capture the last frame stays, and a new
// capture's frames show whatever their timestamps.
TEST_F(live_view_fixture, paints_the_newest_frame_at_the_top_left_with_its_overlay) {
    cv::Mat shown = painted();
    EXPECT_EQ(asked, cv::Size(200, 150));
    EXPECT_EQ(shown.at<cv::Vec3b>(47, 63), grey(90));
    const wxColour background = view->GetBackgroundColour();
    EXPECT_EQ(shown.at<cv::Vec3b>(48, 64),
              cv::Vec3b(background.Red(), background.Green(), background.Blue()));
    cv::Mat green;
    cv::inRange(shown(cv::Rect(10, 10, 40, 20)), cv::Vec3b(0, 200, 0), cv::Vec3b(60, 255, 60),
                green);
    EXPECT_GT(cv::countNonZero(green), 10);
    camera.image.setTo(30);
    EXPECT_EQ(painted().at<cv::Vec3b>(47, 63), grey(90)) << "the same timestamp: kept";
    camera.timestamp = 2;
    EXPECT_EQ(painted().at<cv::Vec3b>(47, 63), grey(30));
    capturing = false;
    EXPECT_EQ(painted().at<cv::Vec3b>(47, 63), grey(30));
    capturing = true;
    camera = {cv::Mat(48, 64, CV_8UC1, cv::Scalar(150)), 2, L""};
    EXPECT_EQ(painted().at<cv::Vec3b>(47, 63), grey(150));
}
