#include "bench/session_bench_support.h"

#include "recording/session_store.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <memory>

#include <leveldb/db.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

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

namespace {
const char* const summary_keys[] = {"session",  "orientation", "side",    "time_start",
                                    "time_end", "dpp_start",   "dpp_end", "version"};

std::uint64_t bare_summary(const std::string& path) {
    leveldb::Options options;
    leveldb::DB* raw = nullptr;
    if (!leveldb::DB::Open(options, path, &raw).ok())
        return 0;
    const std::unique_ptr<leveldb::DB> db(raw);
    const std::unique_ptr<leveldb::Iterator> cursor(db->NewIterator(leveldb::ReadOptions()));
    std::uint64_t bytes = 0;
    for (const char* key : summary_keys) {
        cursor->Seek(key);
        if (cursor->Valid() && cursor->key() == key)
            bytes += cursor->value().size();
    }
    const leveldb::Range range("0000000100", "0000000190");
    std::uint64_t size = 0;
    db->GetApproximateSizes(&range, 1, &size);
    return bytes + size;
}
} // namespace

void make_sessions(const std::string& root, int sessions, int frames_per_session) {
    const cv::Mat frame = scene_frame(120, 160, 0);
    for (int s = 0; s < sessions; ++s) {
        session_writer writer;
        writer.open(root + "/session " + std::to_string(s));
        writer.set_session_code(L"A" + std::to_wstring(s) + L" : 1");
        writer.set_orientation(L"0");
        writer.set_side(L"левый");
        for (int f = 0; f < frames_per_session; ++f)
            writer.record_frame(frame, 100 + 10 * f);
    }
}

double bare_index_round(const std::string& root) {
    const auto start = std::chrono::steady_clock::now();
    for (const auto& entry : std::filesystem::directory_iterator(root))
        if (entry.is_directory() && bare_summary(entry.path().string()) == 0)
            return -1;
    return seconds_since(start);
}

double percentile(std::vector<double> values, double fraction) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(fraction * (values.size() - 1) + 0.5)];
}

namespace {
double thread_cpu_now() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

} // namespace

// CPU seconds of one cv::imencode at quality 85, the encode record_frame does, over frames taken
// while recording.
double bare_jpeg_seconds(const std::vector<cv::Mat>& frames) {
    constexpr int encodes = 3;
    if (frames.empty())
        return 0;
    std::vector<std::uint8_t> encoded;
    const std::vector<int> quality = {cv::IMWRITE_JPEG_QUALITY, 85};
    cv::imencode(".jpeg", frames.front(), encoded, quality);
    const double start = thread_cpu_now();
    for (const cv::Mat& frame : frames)
        for (int i = 0; i < encodes; ++i)
            cv::imencode(".jpeg", frame, encoded, quality);
    return (thread_cpu_now() - start) / encodes / static_cast<double>(frames.size());
}
