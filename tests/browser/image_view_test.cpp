#include "browser/image_view.h"

#include <cmath>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

TEST(ruler, scale_bar_ticks_and_labels_follow_the_ruler_scale_and_the_zoom) {
    const struct {
        double scale, zoom;
        int top, bar_left;
        std::size_t ticks;
    } cases[] = {
        {0.8, 1.0, -80, -60, 21},
        {0.8, 2.0, -160, -120, 21}, // no millimetre ticks up to 2.0
        {0.8, 2.01, -160, -120, 101},
        {1.0, 3.0, -300, -225, 101},
    };
    for (const auto& c : cases) {
        const ruler_drawing ruler = ruler_geometry(c.scale, c.zoom, {0, 0});
        ASSERT_EQ(ruler.lines.size(), 1 + c.ticks + 3) << c.zoom;
        EXPECT_EQ(ruler.lines.front().to, (view_point{0, c.top})) << c.zoom;
        EXPECT_EQ(ruler.lines.back().from, (view_point{c.bar_left, 40})) << c.zoom;
        EXPECT_EQ(ruler.lines.back().to, (view_point{0, 40})) << c.zoom;
    }
    // 2.4 pixels per millimetre: the first tick is truncated toward zero, not down.
    EXPECT_EQ(ruler_geometry(0.8, 3.0, {0, 0}).lines[2].from, (view_point{-5, -2}));
    // Labels every 10 mm, the unit at the top, the bar's label.
    const ruler_drawing ruler = ruler_geometry(0.8, 1.0, {200, 150});
    ASSERT_EQ(ruler.texts.size(), 13u);
    EXPECT_EQ(ruler.texts[1].text + L" " + ruler.texts[11].text + L" " + ruler.texts[12].text,
              L"10 мм 75 мм");
    for (const auto& [index, at] :
         {std::pair{1, view_point{205, 132}}, {10, {205, 60}}, {11, {205, 52}}, {12, {156, 170}}})
        EXPECT_EQ(ruler.texts[index].at, at) << index;
    // Window pixels per millimetre that are not finite draw nothing.
    for (const auto& [scale, zoom] : {std::pair{NAN, 1.0}, {INFINITY, 1.0}, {1e300, 1e300}})
        EXPECT_TRUE(ruler_geometry(scale, zoom, {0, 0}).lines.empty()) << scale << " " << zoom;
}

// However far the zoom goes, no more pixels are made than the window shows.
TEST(visible_part, costs_the_window_not_the_zoom) {
    cv::Mat frame(1200, 1920, CV_8UC3, cv::Scalar(1, 2, 3));
    frame.at<cv::Vec3b>(600, 960) = {9, 8, 7};
    // Frame pixel (960, 600) at the window's top left.
    const visible_part part = render_visible(frame, 1e6, {-960, -600}, {640, 480});
    ASSERT_EQ(part.pixels.size(), cv::Size(640, 480));
    EXPECT_EQ(part.at, (view_point{0, 0}));
    EXPECT_EQ(cv::norm(part.pixels, cv::Mat(480, 640, CV_8UC3, cv::Scalar(9, 8, 7)), cv::NORM_INF),
              0);
    EXPECT_TRUE(render_visible(frame, 1.0, {700, 0}, {640, 480}).pixels.empty()) << "off-screen";
}
