#include "bench/session_bench_support.h"

#include <filesystem>
#include <stdexcept>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

scratch_folder::scratch_folder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "tresvik-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

scratch_folder::~scratch_folder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

cv::Mat scene_frame(int rows, int cols, int offset) {
    cv::RNG rng(0x5eed);
    cv::Mat coarse(rows / 40 + 2, (cols + offset) / 40 + 2, CV_32F);
    rng.fill(coarse, cv::RNG::UNIFORM, 40, 220);
    cv::Mat smooth;
    cv::resize(coarse, smooth, cv::Size(coarse.cols * 40, coarse.rows * 40), 0, 0, cv::INTER_CUBIC);
    cv::Mat frame;
    smooth(cv::Rect(offset, 0, cols, rows)).convertTo(frame, CV_8U);
    cv::Mat noise(rows, cols, CV_8S);
    cv::RNG(offset + 1).fill(noise, cv::RNG::NORMAL, 0, 4);
    cv::add(frame, noise, frame, cv::noArray(), CV_8U);
    return frame;
}
