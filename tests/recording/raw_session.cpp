#include "tests/recording/raw_session.h"

#include <memory>
#include <stdexcept>
#include <vector>

#include <leveldb/db.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

namespace {
std::unique_ptr<leveldb::DB> open_raw(const std::string& path, bool create) {
    leveldb::Options options;
    options.create_if_missing = create;
    leveldb::DB* db = nullptr;
    const leveldb::Status status = leveldb::DB::Open(options, path, &db);
    if (!status.ok())
        throw std::runtime_error(status.ToString());
    return std::unique_ptr<leveldb::DB>(db);
}
} // namespace

void write_raw_session(const std::string& path, const raw_entries& entries) {
    const auto db = open_raw(path, true);
    for (const auto& [key, value] : entries)
        if (!db->Put(leveldb::WriteOptions(), key, value).ok())
            throw std::runtime_error("put failed");
}

raw_entries read_raw_session(const std::string& path) {
    const auto db = open_raw(path, false);
    raw_entries entries;
    const std::unique_ptr<leveldb::Iterator> cursor(db->NewIterator(leveldb::ReadOptions()));
    for (cursor->SeekToFirst(); cursor->Valid(); cursor->Next())
        entries[cursor->key().ToString()] = cursor->value().ToString();
    return entries;
}

raw_entries recorded_session() {
    return {{"0000000100", jpeg_of(test_frame(100))},
            {"0000000200", jpeg_of(test_frame(200))},
            {"0000000300", jpeg_of(test_frame(300))},
            {"dpp_end", "0000000300"},
            {"dpp_start", "0000000100"},
            {"orientation", "-90"},
            {"session", "A7 : 12"},
            {"side", "левый"},
            {"time_end", "1614859600"},
            {"time_start", "1614859533"},
            {"version", "1"}};
}

cv::Mat test_frame(std::uint32_t seed, int rows, int cols) {
    cv::Mat frame(rows, cols, CV_8UC1);
    cv::RNG rng(seed + 1);
    rng.fill(frame, cv::RNG::UNIFORM, 0, 256);
    return frame;
}

std::string jpeg_of(const cv::Mat& frame) {
    std::vector<uchar> bytes;
    cv::imencode(".jpeg", frame, bytes, {cv::IMWRITE_JPEG_QUALITY, 85});
    return std::string(bytes.begin(), bytes.end());
}

cv::Mat decoded(const std::string& jpeg) {
    return cv::imdecode(
        cv::Mat(1, static_cast<int>(jpeg.size()), CV_8UC1, const_cast<char*>(jpeg.data())),
        cv::IMREAD_COLOR);
}

bool same_image(const cv::Mat& a, const cv::Mat& b) {
    return a.size() == b.size() && a.type() == b.type() &&
           (a.empty() || cv::norm(a, b, cv::NORM_INF) == 0);
}
