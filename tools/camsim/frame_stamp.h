#pragma once

#include <cstdint>
#include <optional>

#include <opencv2/core/mat.hpp>

// A frame number drawn into the top-left corner of a frame as black and white cells that survive
// JPEG compression, so that a stored frame can be traced back to the frame the camera sent. Two
// rows of 16 x 16 cells, aligned with JPEG's 8 x 8 blocks: the top row holds a start marker and
// the 32 bits of the number (most significant first), the row below the same cells inverted, so
// that every cell is checked against its partner. Pure functions, safe on any thread.

constexpr int frame_stamp_cell = 16;
constexpr int frame_stamp_width = (4 + 32) * frame_stamp_cell;
constexpr int frame_stamp_height = 2 * frame_stamp_cell;

// Draws the stamp over an 8-bit or 16-bit single-channel image (black 0, white the format's
// largest value). False, and nothing drawn, when the image is of another type or smaller than
// frame_stamp_width x frame_stamp_height.
bool draw_frame_stamp(cv::Mat& image, std::uint32_t number);

// The number stamped in an 8-bit single-channel image; nothing when the image is of another type,
// too small, or holds no clear stamp (a marker or a cell that does not contrast with its partner).
std::optional<std::uint32_t> read_frame_stamp(const cv::Mat& grey);
