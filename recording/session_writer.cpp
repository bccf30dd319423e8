#include "recording/session_db.h"

#include <chrono>
#include <mutex>
#include <stdexcept>

#include <opencv2/imgcodecs.hpp>

#include "recording/session_engine.h"
#include "recording/session_format.h"

session_writer current_session;

namespace {
std::vector<uchar> encode_jpeg(const cv::Mat& image, const std::vector<int>& parameters) {
    std::vector<uchar> jpeg;
    // The codec is chosen by the text after the last dot; "*.jpeg" is the stored format's name.
    if (!cv::imencode("*.jpeg", image, jpeg, parameters))
        throw std::runtime_error("JPEG encoding of the frame failed.");
    return jpeg;
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
    open_ = false;
    frames_written_ = 0;
    handle_.reset();
    handle_ = open_database(path, options_);
    open_ = true;
    put(*handle_, key_version, as_slice(current_version));
}

void session_writer::close() {
    std::unique_lock lock(handle_lock_);
    open_ = false;
    frames_written_ = 0;
    handle_.reset();
}

void session_writer::set_session_code(const std::wstring& text) {
    std::shared_lock lock(handle_lock_);
    put(open_handle(), key_session, narrow_text(text));
}

void session_writer::set_orientation(const std::wstring& text) {
    std::shared_lock lock(handle_lock_);
    put(open_handle(), key_orientation, narrow_text(text));
}

void session_writer::set_side(const std::wstring& text) {
    std::shared_lock lock(handle_lock_);
    put(open_handle(), key_side, narrow_text(text));
}

std::wstring session_writer::session_code() const {
    std::shared_lock lock(handle_lock_);
    if (!handle_)
        return {};
    return wide_text(find_value(*handle_, key_session).value_or(std::string()));
}

void session_writer::put_frame(const cv::Mat& image, std::uint32_t dpp) {
    const std::vector<uchar> jpeg = encode_jpeg(image, jpeg_parameters_);
    std::shared_lock lock(handle_lock_);
    put(open_handle(), frame_key(dpp), {reinterpret_cast<const char*>(jpeg.data()), jpeg.size()});
}

void session_writer::record_frame(const cv::Mat& image, std::uint32_t dpp) {
    const std::vector<uchar> jpeg = encode_jpeg(image, jpeg_parameters_);
    const std::string key = frame_key(dpp);
    std::shared_lock lock(handle_lock_);
    leveldb::DB& handle = open_handle();
    if (frames_written_ == 0) {
        put(handle, key_dpp_start, key);
        put(handle, key_time_start, format_unix_seconds(clock_()));
    }
    put(handle, key_dpp_end, key);
    put(handle, key_time_end, format_unix_seconds(clock_()));
    put(handle, key, {reinterpret_cast<const char*>(jpeg.data()), jpeg.size()});
    ++frames_written_;
}

void session_writer::read_current_frame(std::uint32_t dpp, cv::Mat& image) const {
    std::optional<std::string> value;
    {
        std::shared_lock lock(handle_lock_);
        if (handle_)
            value = value_at_or_after(*handle_, frame_key(dpp));
    }
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
    check_status(handle.Put(put_options(), as_slice(key), value));
}
