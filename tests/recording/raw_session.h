#pragma once

// Session folders written and read through the plain leveldb API, as another program would, so
// that tests check the bytes on disk rather than the program's own reading of them.

#include <cstdint>
#include <map>
#include <string>

#include <opencv2/core/mat.hpp>

using raw_entries = std::map<std::string, std::string>;

// Creates the folder's database with leveldb's defaults and puts every entry.
void write_raw_session(const std::string& path, const raw_entries& entries);

// Every key and value in the folder's database.
raw_entries read_raw_session(const std::string& path);

// A session "A7 : 12" as the recorder leaves it: frames test_frame(dpp) at DPP 100, 200 and 300,
// orientation -90, side "левый", recorded from 2021-03-04 12:05:33 to 12:06:40 UTC.
raw_entries recorded_session();

// An 8-bit grey frame with a texture that differs with the seed.
cv::Mat test_frame(std::uint32_t seed, int rows = 120, int cols = 160);

// The bytes a frame value must hold: the JPEG of quality 85 of the frame.
std::string jpeg_of(const cv::Mat& frame);

// The frame as every reader returns it: the stored JPEG decoded as 8-bit BGR.
cv::Mat decoded(const std::string& jpeg);

// True when both images have the same size, type and pixels.
bool same_image(const cv::Mat& a, const cv::Mat& b);
