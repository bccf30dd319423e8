#pragma once

// Equalisation of a frame and the stitched image of a frame with its neighbours (OpenCV and the
// session store only, no toolkit). Safe on any thread: every call makes its own cursors.

#include <cstdint>
#include <optional>
#include <string>

#include <opencv2/core/mat.hpp>

class session_reader;

// An 8-bit three-channel frame made grey (the first channel weighted as red), its histogram
// equalised and made three equal channels again, in place: a dark frame spreads over the full
// range. An empty matrix stays empty.
void equalize_frame(cv::Mat& image);

struct stitch_outcome {
    int status = 0;       // the stitcher's status; 0 when it joined the frames
    bool written = false; // the image file was written
};

// Joins the frame stored at the DPP with the frame before and the frame after it, each equalised,
// with the image stitcher in scan mode, and writes the result to the path (its extension chooses
// the format) unless the path is empty. At the first or the last frame of a session the two frames
// that exist are joined; a frame alone, or none stored at the DPP, gets the stitcher's status for
// too few images (1). Only frames are decoded, never the metadata that follows the last one, and a
// value that is no image is left out. Errors of the imaging library are thrown.
stitch_outcome stitch_and_save(const session_reader& reader, std::uint32_t dpp,
                               const std::string& path);

// The error row of an outcome: "Can't stitch images, error code = <status>", or that the file
// could not be written; nothing when all went well or nothing was to be written.
std::optional<std::string> stitch_error_text(const stitch_outcome& outcome,
                                             const std::string& path);
