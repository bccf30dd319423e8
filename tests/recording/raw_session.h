#pragma once

// Session folders written and read through the plain leveldb API, as another program would, so
// that tests check the bytes on disk rather than the program's own reading of them.

#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <leveldb/db.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

using raw_entries = std::map<std::string, std::string>;

// The folder's database opened with leveldb's defaults.
inline std::unique_ptr<leveldb::DB> open_raw_session(const std::string& path, bool create) {
    leveldb::Options options;
    options.create_if_missing = create;
    leveldb::DB* db = nullptr;
    const leveldb::Status status = leveldb::DB::Open(options, path, &db);
    if (!status.ok())
        throw std::runtime_error(status.ToString());
    return std::unique_ptr<leveldb::DB>(db);
}

// Creates the folder's database and puts every entry.
inline void write_raw_session(const std::string& path, const raw_entries& entries) {
    const auto db = open_raw_session(path, true);
    for (const auto& [key, value] : entries)
        if (!db->Put(leveldb::WriteOptions(), key, value).ok())
            throw std::runtime_error("put failed");
}

// Every key and value in the folder's database.
inline raw_entries read_raw_session(const std::string& path) {
    const auto db = open_raw_session(path, false);
    raw_entries entries;
    const std::unique_ptr<leveldb::Iterator> cursor(db->NewIterator(leveldb::ReadOptions()));
    for (cursor->SeekToFirst(); cursor->Valid(); cursor->Next())
        entries[cursor->key().ToString()] = cursor->value().ToString();
    return entries;
}

// An 8-bit grey frame with a texture that differs with the seed.
inline cv::Mat test_frame(std::uint32_t seed, int rows = 120, int cols = 160) {
    cv::Mat frame(rows, cols, CV_8UC1);
    cv::RNG rng(seed + 1);
    rng.fill(frame, cv::RNG::UNIFORM, 0, 256);
    return frame;
}

// The bytes a frame value must hold: the JPEG of quality 85 of the frame.
inline std::string jpeg_of(const cv::Mat& frame) {
    std::vector<uchar> bytes;
    cv::imencode(".jpeg", frame, bytes, {cv::IMWRITE_JPEG_QUALITY, 85});
    return std::string(bytes.begin(), bytes.end());
}

// The JPEG of an 8 x 8 frame whose frame header declares another size: a few hundred bytes that
// ask a decoder for width x height pixels.
inline std::string jpeg_declaring(int width, int height) {
    std::string jpeg = jpeg_of(test_frame(1, 8, 8));
    const std::size_t header = jpeg.find("\xff\xc0"); // then length, precision, height, width
    for (const auto& [at, value] : {std::pair{5, height}, {7, width}}) {
        jpeg[header + at] = static_cast<char>(value >> 8);
        jpeg[header + at + 1] = static_cast<char>(value & 0xFF);
    }
    return jpeg;
}

// The frame as every reader returns it: the stored JPEG decoded as 8-bit BGR.
inline cv::Mat decoded(const std::string& jpeg) {
    return cv::imdecode(
        cv::Mat(1, static_cast<int>(jpeg.size()), CV_8UC1, const_cast<char*>(jpeg.data())),
        cv::IMREAD_COLOR);
}

// True when both images have the same size, type and pixels.
inline bool same_image(const cv::Mat& a, const cv::Mat& b) {
    return a.size() == b.size() && a.type() == b.type() &&
           (a.empty() || cv::norm(a, b, cv::NORM_INF) == 0);
}

// A session "A7 : 12" as the recorder leaves it: frames test_frame(dpp) at DPP 100, 200 and 300,
// orientation -90, side "левый", recorded from 2021-03-04 12:05:33 to 12:06:40 UTC.
inline raw_entries recorded_session() {
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

// recorded_session() with frames of 480 x 640 that no codec shrinks (about 250 KB each) at DPP
// 1000 onwards, the range ending at the last of them.
inline raw_entries noise_session(std::uint32_t frames) {
    raw_entries entries = recorded_session();
    for (std::uint32_t dpp = 1000; dpp < 1000 + frames; ++dpp)
        entries["000000" + std::to_string(dpp)] = jpeg_of(test_frame(dpp, 480, 640));
    entries["dpp_end"] = "000000" + std::to_string(999 + frames);
    return entries;
}

// About 1 MB.
inline raw_entries megabyte_session() {
    return noise_session(4);
}
