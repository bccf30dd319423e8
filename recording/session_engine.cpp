#include "recording/session_engine.h"

#include <stdexcept>

#include <opencv2/imgcodecs.hpp>

namespace {
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

std::optional<std::string> value_at_or_after(leveldb::DB& handle, std::string_view key) {
    const auto cursor = new_cursor(handle);
    cursor->Seek(as_slice(key));
    if (!cursor->Valid())
        return std::nullopt;
    return cursor->value().ToString();
}

cv::Mat decode_frame(std::string_view value) {
    if (value.empty())
        return {};
    const cv::Mat bytes(1, static_cast<int>(value.size()), CV_8UC1,
                        const_cast<char*>(value.data()));
    try {
        return cv::imdecode(bytes, cv::IMREAD_COLOR);
    } catch (const cv::Exception&) {
        return {}; // the decoder rejects some malformed streams by throwing instead
    }
}
