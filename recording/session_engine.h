#pragma once

// Internal: how this layer talks to leveldb. The options here are part of the on-disk contract
// with other programs that open the same folders; they must not change.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <leveldb/db.h>
#include <leveldb/env.h>
#include <opencv2/core/mat.hpp>

// Recording and metadata edits: create the folder when missing. env is a test seam (null keeps
// the engine's default).
leveldb::Options writer_options(leveldb::Env* env);
// Index, viewer and data service: never create anything.
leveldb::Options reader_options();
// Every read: no checksum verification, fill the cache, no snapshot.
leveldb::ReadOptions cursor_options();
// Every write: one unsynchronised put.
leveldb::WriteOptions put_options();

inline leveldb::Slice as_slice(std::string_view text) {
    return {text.data(), text.size()};
}
inline std::string_view as_view(const leveldb::Slice& bytes) {
    return {bytes.data(), bytes.size()};
}

// Throws std::runtime_error with the status text unless it is ok.
void check_status(const leveldb::Status& status);

std::unique_ptr<leveldb::DB> open_database(const std::string& path,
                                           const leveldb::Options& options);
// Opens with the reader options, but only a folder that holds a database: the engine would
// otherwise create the folder and put its lock and log files into any folder it is given (and
// rename a file named LOG there), while failing with the same status as below.
std::unique_ptr<leveldb::DB> open_existing_database(const std::string& path);

std::unique_ptr<leveldb::Iterator> new_cursor(leveldb::DB& handle);

// The value stored under exactly this key; nothing when the key is missing.
std::optional<std::string> find_value(leveldb::DB& handle, std::string_view key);

// The value of the first frame at or after the DPP's frame key (frame_walk); nothing when no
// frame follows. A DPP between two frames gives the next one.
std::optional<std::string> frame_at_or_after(leveldb::DB& handle, std::uint32_t dpp);

// A stored value decoded in colour mode (8-bit BGR); empty when it is no image or is not decoded
// (decode_stored_frame).
cv::Mat decode_frame(std::string_view value);
