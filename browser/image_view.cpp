#include "browser/image_view.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

namespace {
// Far outside any window, yet safe for the toolkit's fixed-point drawing: the zoom has no upper
// limit, and a ruler 100 mm long at zoom 10^9 must not overflow an int.
constexpr double farthest_pixel = 1e6;

int pixel(double value) {
    return static_cast<int>(std::clamp(value, -farthest_pixel, farthest_pixel));
}

// The window pixels [first, last) whose centres fall on the frame along one axis.
std::pair<int, int> shown_span(double offset, int frame_size, double zoom, int window_size) {
    const double begin = std::ceil(offset * zoom - 0.5);
    const double end = std::ceil((offset + frame_size) * zoom - 0.5);
    return {static_cast<int>(std::clamp(begin, 0.0, double(window_size))),
            static_cast<int>(std::clamp(end, 0.0, double(window_size)))};
}
} // namespace

void turn_wheel(panel_view& view, int rotation, int delta) {
    if (delta == 0)
        return;
    view.zoom += static_cast<double>(rotation) / static_cast<double>(delta);
    if (!(view.zoom > 1.0))
        view.zoom = 1.0;
}

void press_left(panel_view& view, view_point at) {
    view.anchor = at;
    view.dragging = true;
}

void release_left(panel_view& view) {
    view.dragging = false;
}

void move_pointer(panel_view& view, view_point at, bool left_down) {
    view.dragging = view.dragging && left_down;
    if (view.dragging) {
        view.offset.x += at.x - view.anchor.x;
        view.offset.y += at.y - view.anchor.y;
        view.anchor = at;
    }
    view.origin = at;
}

ruler_drawing ruler_geometry(double ruler_scale, double zoom, view_point origin) {
    const double s = ruler_scale * zoom;
    ruler_drawing ruler;
    if (!std::isfinite(s))
        return ruler; // no millimetre has a place on the screen
    const int ox = origin.x, oy = origin.y;
    auto line = [&](int x1, int y1, int x2, int y2) {
        ruler.lines.push_back({{x1, y1}, {x2, y2}});
    };
    line(ox, oy, ox, pixel(oy - 100 * s));
    for (int i = 0; i <= 100; ++i) {
        const int y = pixel(oy - i * s);
        if (i % 10 == 0) {
            line(ox - 30, y, ox, y);
            ruler.texts.push_back({std::to_wstring(i), {ox + 5, pixel(oy - i * s - 10)}});
        } else if (i % 5 == 0) {
            line(ox - 10, y, ox, y);
        } else if (zoom > 2.0) {
            line(ox - 5, y, ox, y);
        }
    }
    ruler.texts.push_back({L"мм", {ox + 5, pixel(oy - 110 * s - 10)}});
    const int bar_left = pixel(ox - 75 * s);
    line(ox, oy + 20, ox, oy + 40);
    line(bar_left, oy + 20, bar_left, oy + 40);
    line(bar_left, oy + 40, ox, oy + 40);
    ruler.texts.push_back({L"75 мм", {pixel(ox - 55 * s), oy + 20}});
    return ruler;
}

// Each window pixel shows the frame pixel under its centre: the inverse map takes the centre of
// window pixel x to (x + 0.5) / zoom - offset, and the nearest-pixel warp rounds, so half a pixel
// less gives the pixel that holds it.
visible_part render_visible(const cv::Mat& frame, double zoom, view_point offset, cv::Size window) {
    const auto [x0, x1] = shown_span(offset.x, frame.cols, zoom, window.width);
    const auto [y0, y1] = shown_span(offset.y, frame.rows, zoom, window.height);
    visible_part part{cv::Mat(), {x0, y0}};
    if (frame.empty() || x1 <= x0 || y1 <= y0)
        return part;
    const cv::Matx23d to_frame(1 / zoom, 0, (x0 + 0.5) / zoom - offset.x - 0.5, //
                               0, 1 / zoom, (y0 + 0.5) / zoom - offset.y - 0.5);
    cv::warpAffine(frame, part.pixels, to_frame, cv::Size(x1 - x0, y1 - y0),
                   cv::INTER_NEAREST | cv::WARP_INVERSE_MAP, cv::BORDER_REPLICATE);
    return part;
}
