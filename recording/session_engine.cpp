#include "recording/session_engine.h"

#include <stdexcept>

#include <opencv2/imgcodecs.hpp>

#include "recording/session_db.h"
#include "recording/session_format.h"

namespace {
constexpr std::string_view first_frame_key = "0000000000";

// The options both sides share; only create_if_missing and the test env differ.
leveldb::Options common_options() {
    leveldb::Options options;
    options.error_if_exists = false;
    options.paranoid_checks = false;
    options.write_buffer_size = 4194304;
    options.max_open_files = 1000;
    options.block_size = 4096;
    options.block_restart_interval = 16;
    options.max_file_size = 2097152;
    options.reuse_logs = false;
    return options;
}

} // namespace

leveldb::Options writer_options(leveldb::Env* env) {
    leveldb::Options options = common_options();
    options.create_if_missing = true;
    if (env)
        options.env = env;
    return options;
}

leveldb::Options reader_options() {
    leveldb::Options options = common_options();
    options.create_if_missing = false;
    return options;
}

leveldb::ReadOptions cursor_options() {
    leveldb::ReadOptions options;
    options.verify_checksums = false;
    options.fill_cache = true;
    options.snapshot = nullptr;
    return options;
}

leveldb::WriteOptions put_options() {
    leveldb::WriteOptions options;
    options.sync = false;
    return options;
}

void check_status(const leveldb::Status& status) {
    if (!status.ok())
        throw std::runtime_error(status.ToString());
}

std::unique_ptr<leveldb::DB> open_database(const std::string& path,
                                           const leveldb::Options& options) {
    leveldb::DB* handle = nullptr;
    check_status(leveldb::DB::Open(options, path, &handle));
    return std::unique_ptr<leveldb::DB>(handle);
}

std::unique_ptr<leveldb::DB> open_existing_database(const std::string& path) {
    const leveldb::Options options = reader_options();
    const std::string current_file = path + "/CURRENT";
    if (!options.env->FileExists(current_file))
        check_status(leveldb::Status::InvalidArgument(
            current_file, "does not exist (create_if_missing is false)"));
    return open_database(path, options);
}

std::unique_ptr<leveldb::Iterator> new_cursor(leveldb::DB& handle) {
    return std::unique_ptr<leveldb::Iterator>(handle.NewIterator(cursor_options()));
}

std::optional<std::string> find_value(leveldb::DB& handle, std::string_view key) {
    const auto cursor = new_cursor(handle);
    cursor->Seek(as_slice(key));
    if (!cursor->Valid() || cursor->key() != as_slice(key))
        return std::nullopt;
    return cursor->value().ToString();
}

std::optional<std::string> frame_at_or_after(leveldb::DB& handle, std::uint32_t dpp) {
    const auto cursor = new_cursor(handle);
    cursor->Seek(frame_key(dpp));
    if (!frame_walk().settle(*cursor))
        return std::nullopt;
    return cursor->value().ToString();
}

bool frame_walk::settle(leveldb::Iterator& cursor) {
    for (; cursor.Valid(); cursor.Next()) {
        const std::string_view key = as_view(cursor.key());
        if (key > last)
            return false;
        if (is_frame_key(key))
            return true;
        ++passed;
    }
    return false;
}

bool frame_walk::next(leveldb::Iterator& cursor) {
    cursor.Next();
    return settle(cursor);
}

bool frame_walk::previous(leveldb::Iterator& cursor) {
    for (cursor.Prev(); cursor.Valid(); cursor.Prev()) {
        const std::string_view key = as_view(cursor.key());
        if (key < first_frame_key)
            return false;
        if (is_frame_key(key))
            return true;
        ++passed;
    }
    return false;
}

std::string frame_refusal(std::string_view value) {
    const std::optional<frame_size> size = declared_jpeg_size(value);
    if (!size)
        return "no readable JPEG header";
    if (size->width <= max_frame_side && size->height <= max_frame_side)
        return {};
    return "it declares " + std::to_string(size->width) + " x " + std::to_string(size->height) +
           " pixels, more than a camera gives (" + std::to_string(max_frame_side) + " x " +
           std::to_string(max_frame_side) + ")";
}

decoded_frame decode_stored_frame(std::string_view value, int flags) {
    std::string refused = frame_refusal(value);
    if (!refused.empty())
        return {cv::Mat(), std::move(refused)};
    const cv::Mat bytes(1, static_cast<int>(value.size()), CV_8UC1,
                        const_cast<char*>(value.data()));
    try {
        return {cv::imdecode(bytes, flags), {}};
    } catch (const cv::Exception&) {
        return {}; // the decoder rejects some malformed streams by throwing instead
    }
}

cv::Mat decode_frame(std::string_view value) {
    return decode_stored_frame(value, cv::IMREAD_COLOR).image;
}
