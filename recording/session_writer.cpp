#include "recording/session_db.h"

#include <chrono>
#include <mutex>
#include <stdexcept>

#include <leveldb/write_batch.h>
#include <opencv2/imgcodecs.hpp>

#include "base/encoding.h"
#include "recording/session_engine.h"
#include "recording/session_format.h"

session_writer current_session;

namespace {
constexpr std::uint64_t sync_interval_micros = 1000000;

leveldb::WriteOptions synchronised_write() {
    leveldb::WriteOptions options = put_options();
    options.sync = true;
    return options;
}

leveldb::Slice as_slice(const std::vector<uchar>& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}
} // namespace

std::int64_t system_unix_seconds() {
    using namespace std::chrono;
    return floor<seconds>(system_clock::now()).time_since_epoch().count();
}

session_writer::session_writer(session_clock clock, leveldb::Env* env)
    : options_(writer_options(env)), jpeg_parameters_{cv::IMWRITE_JPEG_QUALITY, 85},
      clock_(std::move(clock)) {}

session_writer::~session_writer() = default;

void session_writer::open(const std::string& path) {
    std::unique_lock lock(handle_lock_);
    release_handle();
    handle_ = open_database(path, options_);
    last_sync_micros_ = options_.env->NowMicros();
    open_ = true;
    put(*handle_, key_version, as_slice(current_version));
}

void session_writer::close() {
    std::unique_lock lock(handle_lock_);
    release_handle();
}

// What was written since the last synchronised write reaches the disk before the handle goes, so
// a closed session survives a power cut whole.
void session_writer::release_handle() {
    open_ = false;
    frames_written_ = 0;
    stored_metadata_.clear();
    if (handle_ && unsynced_writes_) {
        leveldb::WriteBatch nothing;
        handle_->Write(synchronised_write(), &nothing);
    }
    unsynced_writes_ = false;
    handle_.reset();
}

void session_writer::set_session_code(const std::wstring& text) {
    put_metadata(key_session, narrow_text(text));
}

void session_writer::set_orientation(const std::wstring& text) {
    put_metadata(key_orientation, narrow_text(text));
}

void session_writer::set_side(const std::wstring& text) {
    put_metadata(key_side, narrow_text(text));
}

// A value equal to the one this writer stored since it was opened is not stored again: the
// recorder sets the same three values on every reply of the coordinate server.
void session_writer::put_metadata(std::string_view key, const std::string& value) {
    std::shared_lock lock(handle_lock_);
    leveldb::DB& handle = open_handle();
    const auto stored = stored_metadata_.find(key);
    if (stored != stored_metadata_.end() && stored->second == value)
        return;
    put(handle, key, value);
    stored_metadata_[std::string(key)] = value;
}

std::wstring session_writer::session_code() const {
    std::shared_lock lock(handle_lock_);
    if (!handle_)
        return {};
    return wide_text(find_value(*handle_, key_session).value_or(std::string()));
}

// The codec is chosen by the text after the last dot; "*.jpeg" is the stored format's name.
void session_writer::encode_jpeg(const cv::Mat& image) {
    if (!cv::imencode("*.jpeg", image, jpeg_, jpeg_parameters_))
        throw std::runtime_error("JPEG encoding of the frame failed.");
}

void session_writer::put_frame(const cv::Mat& image, std::uint32_t dpp) {
    encode_jpeg(image);
    std::shared_lock lock(handle_lock_);
    put(open_handle(), frame_key(dpp), as_slice(jpeg_));
}

// One atomic batch: a failure leaves neither the range nor the time pointing at a missing frame.
void session_writer::record_frame(const cv::Mat& image, std::uint32_t dpp) {
    encode_jpeg(image);
    const std::string key = frame_key(dpp);
    batch_.Clear();
    if (frames_written_ == 0) {
        batch_.Put(as_slice(key_dpp_start), key);
        batch_.Put(as_slice(key_time_start), format_unix_seconds(clock_()));
    }
    batch_.Put(as_slice(key_dpp_end), key);
    batch_.Put(as_slice(key_time_end), format_unix_seconds(clock_()));
    batch_.Put(key, as_slice(jpeg_));
    std::shared_lock lock(handle_lock_);
    write(open_handle(), batch_);
    ++frames_written_;
}

std::optional<std::string> session_writer::current_frame_bytes(std::uint32_t dpp) const {
    std::shared_lock lock(handle_lock_);
    if (!handle_)
        return std::nullopt;
    return frame_at_or_after(*handle_, dpp);
}

void session_writer::read_current_frame(std::uint32_t dpp, cv::Mat& image) const {
    const std::optional<std::string> value = current_frame_bytes(dpp);
    image = value ? decode_frame(*value) : cv::Mat();
    if (image.empty())
        image = not_found_image(dpp);
}

leveldb::DB& session_writer::open_handle() const {
    if (!handle_)
        throw std::runtime_error("Session database is not open.");
    return *handle_;
}

void session_writer::put(leveldb::DB& handle, std::string_view key, const leveldb::Slice& value) {
    leveldb::WriteBatch batch;
    batch.Put(as_slice(key), value);
    write(handle, batch);
}

// Writes are unsynchronised, but the first one after a second without a synchronised write is
// synchronised: a power cut then loses at most about the last second of recording, for one disk
// flush a second.
void session_writer::write(leveldb::DB& handle, leveldb::WriteBatch& batch) {
    const std::uint64_t now = options_.env->NowMicros();
    const bool sync = now - last_sync_micros_ >= sync_interval_micros;
    check_status(handle.Write(sync ? synchronised_write() : put_options(), &batch));
    if (sync)
        last_sync_micros_ = now;
    unsynced_writes_ = !sync;
}
