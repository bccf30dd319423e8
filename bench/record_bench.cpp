// Recording cost: record_frame of 1920 x 1200 grey frames against a bare JPEG encoding (quality
// 85) of the same frames, measured in alternating passes of one run so that both see the same
// machine. The store, one atomic write per frame with the disk synchronised once a second, must
// add under 10%: the ratio should be at least 0.90.
#include <cstdio>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "bench/session_bench_support.h"
#include "recording/session_store.h"

namespace {
constexpr int rows = 1200;
constexpr int cols = 1920;
constexpr int frames_per_pass = 40;
constexpr int passes = 5;

double bare_pass(const std::vector<cv::Mat>& frames, std::size_t& bytes) {
    const std::vector<int> parameters = {cv::IMWRITE_JPEG_QUALITY, 85};
    std::vector<uchar> jpeg;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < frames_per_pass; ++i) {
        cv::imencode("*.jpeg", frames[i % frames.size()], jpeg, parameters);
        bytes += jpeg.size();
    }
    return seconds_since(start);
}

double record_pass(const std::vector<cv::Mat>& frames, session_writer& writer, std::uint32_t& dpp) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < frames_per_pass; ++i)
        writer.record_frame(frames[i % frames.size()], dpp++);
    return seconds_since(start);
}
} // namespace

int main() {
    std::vector<cv::Mat> frames;
    for (int i = 0; i < 8; ++i)
        frames.push_back(scene_frame(rows, cols, i * 150));
    const temp_dir folder;
    session_writer writer;
    writer.open(folder.path() + "/2021.03.04 12.05.33");

    double bare_seconds = 0;
    double record_seconds = 0;
    std::size_t bytes = 0;
    std::uint32_t dpp = 1;
    for (int pass = 0; pass < passes; ++pass) {
        bare_seconds += bare_pass(frames, bytes);
        record_seconds += record_pass(frames, writer, dpp);
    }
    writer.close();

    const double count = double(frames_per_pass) * passes;
    const double bare_fps = count / bare_seconds;
    const double record_fps = count / record_seconds;
    std::printf("frames: %dx%d 8-bit grey, %.0f per side, %d alternating passes\n", cols, rows,
                count, passes);
    std::printf("JPEG size: %.0f KiB per frame\n", double(bytes) / count / 1024);
    std::printf("bare cv::imencode q85: %.1f frames/s, %.1f megapixels/s\n", bare_fps,
                bare_fps * rows * cols / 1e6);
    std::printf(
        "record_frame:          %.1f frames/s (one batch per frame, synced once a second)\n",
        record_fps);
    std::printf("ratio record/bare:     %.3f (goal >= 0.90)\n", record_fps / bare_fps);
    return 0;
}
