#pragma once

// PNG files for the data service, encoded fast: rows filtered with PNG's "Up" filter and
// compressed by libdeflate at its quickest level. A 1920 x 1200 frame takes about a tenth of the
// time of the imaging library's PNG at level 5, for a file of about the same size. Pure; each
// thread keeps its own compressor, so any number of threads may encode at once.

#include <vector>

#include <opencv2/core/mat.hpp>

// Appends the PNG of an 8-bit image to out: one channel as grey, three channels (BGR, as the
// imaging library holds them) as RGB. Throws std::invalid_argument for any other image.
void append_png(const cv::Mat& image, std::vector<unsigned char>& out);

// Appends the PNG of the three-channel image whose channels all equal the grey image: what a grey
// frame decoded in colour gives, without making that image.
void append_png_grey_as_rgb(const cv::Mat& grey, std::vector<unsigned char>& out);
