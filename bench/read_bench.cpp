// Latency of read_indexed_frame for a 1920 x 1200 frame: median and 99th percentile over 1,000
// requests at random DPPs of a session that is not the first in the index, with a bare JPEG
// decoding of one stored frame for scale.
#include <cstdio>
#include <random>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "bench/session_bench_support.h"
#include "recording/session_store.h"

namespace {
constexpr int requests = 1000;
constexpr int frames = 100;
constexpr int other_sessions = 20;

void make_session(const std::string& path, const std::wstring& code, int rows, int cols) {
    session_writer writer;
    writer.open(path);
    writer.set_session_code(code);
    for (int f = 0; f < frames; ++f)
        writer.record_frame(scene_frame(rows, cols, (f % 8) * 150), 1000 + 10 * f);
}

double bare_decode_ms(const cv::Mat& frame) {
    std::vector<uchar> jpeg;
    cv::imencode("*.jpeg", frame, jpeg, {cv::IMWRITE_JPEG_QUALITY, 85});
    std::vector<double> times;
    for (int i = 0; i < 50; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const cv::Mat image = cv::imdecode(jpeg, cv::IMREAD_COLOR);
        times.push_back(seconds_since(start) * 1e3);
    }
    return percentile(times, 0.5);
}
} // namespace

int main() {
    const temp_dir root;
    for (int s = 0; s < other_sessions; ++s)
        make_session(root.path() + "/other " + std::to_string(s), L"B : " + std::to_wstring(s), 120,
                     160);
    make_session(root.path() + "/wanted", L"A7 : 12", 1200, 1920);
    session_store sessions(root.path());
    sessions.refresh_session_index(
        [](const std::string& message) { std::fprintf(stderr, "%s\n", message.c_str()); });

    std::mt19937 random(12);
    std::uniform_int_distribution<std::uint32_t> dpp(1000, 1000 + 10 * (frames - 1));
    std::vector<double> latencies;
    for (int i = 0; i < requests; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const cv::Mat image =
            decode_stored_frame(sessions.read_indexed_frame(L"A7 : 12", dpp(random)).value(),
                                cv::IMREAD_COLOR)
                .image;
        latencies.push_back(seconds_since(start) * 1e3);
        if (image.rows != 1200)
            return 1;
    }
    std::printf("read_indexed_frame, 1920x1200 frame, %d requests, index of %d sessions\n",
                requests, other_sessions + 1);
    std::printf("median: %.2f ms, 99th percentile: %.2f ms\n", percentile(latencies, 0.5),
                percentile(latencies, 0.99));
    std::printf("bare imdecode of one such frame: %.2f ms (median)\n",
                bare_decode_ms(scene_frame(1200, 1920, 0)));
    return 0;
}
