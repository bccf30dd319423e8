#pragma once

// Shared pieces of the session database benchmarks: a camera-like scene, sessions to read and a
// stopwatch.

#include <chrono>
#include <string>
#include <vector>

#include <opencv2/core/mat.hpp>

#include "harness/temp_dir.h"

// An 8-bit grey frame of an under-car scene: smooth shapes with sensor noise, scrolled by the
// offset as the car moves, so that consecutive frames differ as a camera's do.
cv::Mat scene_frame(int rows, int cols, int offset);

inline double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Sessions named "session <n>" under the root, each with a code, orientation, side and the given
// number of small frames.
void make_sessions(const std::string& root, int sessions, int frames_per_session);

// What any program must do to summarise every session folder under the root: open each with
// plain leveldb, read the metadata keys through one iterator, ask for the frames' size, close it.
// Seconds taken, or -1 when a folder could not be read.
double bare_index_round(const std::string& root);

// The value at that fraction of the sorted values (0.5: the median), nearest by rank; 0 for none.
double percentile(std::vector<double> values, double fraction);

// CPU seconds of one cv::imencode at quality 85, the encode each stored frame costs, over the
// frames given (taken while recording: the cost follows the scene); 0 for none.
double bare_jpeg_seconds(const std::vector<cv::Mat>& frames);
