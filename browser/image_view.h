#pragma once

// The image panel's state and geometry as pure values (OpenCV only, no toolkit): what the wheel,
// the left button and the pointer do to the view, where the ruler's lines and texts go, and the
// visible part of a frame scaled to window pixels. No shared state; safe on any thread.

#include <string>
#include <vector>

#include <opencv2/core/mat.hpp>

struct view_point {
    int x = 0;
    int y = 0;
    bool operator==(const view_point& other) const { return x == other.x && y == other.y; }
};

// Window pixels everywhere except the offset, which is in the zoomed drawing's units (window
// pixels divided by the zoom). A drag adds window pixels to it, so at zoom 2 the frame moves twice
// as far as the pointer: the recorder has always dragged that way.
struct panel_view {
    double zoom = 1.0;     // never below 1.0, no upper limit
    view_point anchor;     // pointer position at the last drag step
    view_point offset;     // the frame's top-left corner
    view_point origin;     // the ruler's zero: where the pointer last moved
    bool dragging = false; // the left button went down on the panel and is not up yet
};

// zoom + rotation / delta (one notch of a usual wheel is 1.0); a result not above 1.0 is 1.0.
void turn_wheel(panel_view& view, int rotation, int delta);
void press_left(panel_view& view, view_point at);
void release_left(panel_view& view);
// The ruler's zero follows the pointer; while the left button is held since a press on the
// panel, the frame follows it too. A button pressed elsewhere and dragged in moves no frame.
void move_pointer(panel_view& view, view_point at, bool left_down);

struct ruler_line {
    view_point from;
    view_point to;
};
struct ruler_text {
    std::wstring text;
    view_point at; // the text's top-left corner
};
struct ruler_drawing {
    std::vector<ruler_line> lines;
    std::vector<ruler_text> texts;
};

// The millimetre ruler at the origin: a vertical scale of 100 mm upward with ticks every
// millimetre (only above zoom 2.0), 5 and 10 mm, labelled every 10 mm and with "мм" at its top,
// and a 75 mm bar below and to the left labelled "75 мм". ruler_scale is frame pixels per
// millimetre; every coordinate that involves it is truncated toward zero and held within a
// million pixels of the window. Nothing is drawn when the scale times the zoom is not finite.
ruler_drawing ruler_geometry(double ruler_scale, double zoom, view_point origin);

// The part of the frame that shows in a window of the given size, scaled by the zoom (nearest
// pixel, as the toolkit draws a scaled bitmap) and placed at `at` in window pixels. Its cost
// follows the window's size, not the zoom. Empty pixels when nothing of the frame shows.
struct visible_part {
    cv::Mat pixels;
    view_point at;
};
visible_part render_visible(const cv::Mat& frame, double zoom, view_point offset, cv::Size window);
