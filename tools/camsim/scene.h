#pragma once

#include <cstdint>
#include <vector>

// The simulated camera's view: the track seen from under a moving car. Rails run along the image
// rows, sleepers across them with their fastening bolts, ballast stones between; every pixel is
// fixed by its place on the track, so consecutive frames overlap exactly where the car has not yet
// moved past. The free functions are pure and safe on any thread.

// Grey level of the scene at distance `along` pixels down the track and row y of a frame
// `height` rows high.
std::uint8_t scene_level(std::uint64_t along, std::uint32_t y, std::uint32_t height);

// Draws frames of the scene cheaply: the columns of the track already seen are kept in a ring of
// rows, so that a frame moved on by a few pixels draws only the columns that came into view and
// copies the rest. Every frame equals scene_level at each pixel, whatever the order of the starts
// (a start that does not continue the kept columns redraws them). One frame size per renderer; not
// thread-safe, one owner at a time.
class scene_renderer {
public:
    scene_renderer(std::uint32_t width, std::uint32_t height);

    std::uint32_t width() const { return width_; }
    std::uint32_t height() const { return height_; }

    // Draws a frame whose first column shows the track at distance `start`: column x shows
    // start + x. brightness scales every level (1 keeps them; results are clipped to the format).
    void draw_mono8(std::uint8_t* pixels, std::uint64_t start, double brightness);
    void draw_mono16(std::uint16_t* pixels, std::uint64_t start, double brightness);

private:
    void bring_into_view(std::uint64_t start);
    void draw_columns(std::uint64_t first, std::uint64_t end);
    template <typename pixel> void copy_view(pixel* pixels, std::uint64_t start, const pixel* lut);

    std::uint32_t width_;
    std::uint32_t height_;
    std::uint32_t ring_width_;       // columns kept per row, at least the frame width
    std::vector<std::uint8_t> ring_; // row-major; track column c sits at c % ring_width_
    std::uint64_t kept_begin_ = 0;   // the kept columns are [kept_begin_, kept_end_)
    std::uint64_t kept_end_ = 0;
};

// The brightness of an ExposureMode register value: 1 for "Off" (0), else rising with the preset
// number, preset 5 giving 1.
double exposure_brightness(std::uint32_t exposure_mode);
