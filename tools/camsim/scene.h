#pragma once

#include <cstdint>

// The simulated camera's view: the track seen from under a moving car. Rails run along the image
// rows, sleepers across them with their fastening bolts, ballast stones between; every pixel is
// fixed by its place on the track, so consecutive frames overlap exactly where the car has not yet
// moved past. Pure functions, safe on any thread.

// Grey level of the scene at distance `along` pixels down the track and row y of a frame
// `height` rows high.
std::uint8_t scene_level(std::uint64_t along, std::uint32_t y, std::uint32_t height);

// Draws a frame whose first column shows the track at distance `start`: column x shows
// start + x. brightness scales every level (1 keeps them; results are clipped to the format).
void draw_scene_mono8(std::uint8_t* pixels, std::uint32_t width, std::uint32_t height,
                      std::uint64_t start, double brightness);
void draw_scene_mono16(std::uint16_t* pixels, std::uint32_t width, std::uint32_t height,
                       std::uint64_t start, double brightness);

// The brightness of an ExposureMode register value: 1 for "Off" (0), else rising with the preset
// number, preset 5 giving 1.
double exposure_brightness(std::uint32_t exposure_mode);
