#include "recording/session_db.h"

#include <stdexcept>

#include "base/encoding.h"
#include "recording/session_engine.h"
#include "recording/session_format.h"

const std::wstring no_data_text = L"нет данных";

namespace {
void seek(leveldb::Iterator& cursor, std::uint32_t dpp) {
    cursor.Seek(frame_key(dpp));
}

void seek_first_frame(leveldb::Iterator& cursor, std::uint32_t dpp) {
    seek(cursor, dpp);
    frame_walk().settle(cursor);
}

// Where a size range ends when the cursor has run off the end of an odd database.
std::string cursor_key_or(const leveldb::Iterator& cursor, std::uint32_t dpp) {
    return cursor.Valid() ? cursor.key().ToString() : frame_key(dpp);
}

// Every failure to read a session names its folder, which the engine's texts do not (they name a
// file inside it at best), so that a row says which session is damaged.
std::runtime_error unreadable_session(const std::string& path, const std::string& why) {
    return std::runtime_error("Session folder " + path + " cannot be read: " + why);
}

std::unique_ptr<leveldb::DB> open_session_folder(const std::string& path) {
    try {
        return open_existing_database(path);
    } catch (const std::exception& e) {
        throw unreadable_session(path, e.what());
    }
}

template <typename Parse>
auto parse_stored(const std::string& path, std::string_view key, const std::string& value,
                  Parse parse) {
    try {
        return parse(value);
    } catch (const std::invalid_argument& e) {
        throw unreadable_session(path, "\"" + std::string(key) + "\" is " + e.what());
    }
}
} // namespace

session_reader::session_reader(const std::string& path)
    : path_(path), handle_(open_session_folder(path)), start_cursor_(new_cursor(*handle_)),
      end_cursor_(new_cursor(*handle_)), current_cursor_(new_cursor(*handle_)) {
    const std::uint32_t start = dpp_start();
    seek(*start_cursor_, start);
    seek(*end_cursor_, dpp_end());
    seek_first_frame(*current_cursor_, start);
}

std::uint32_t session_reader::dpp_start() const {
    return stored_dpp(key_dpp_start).value_or(missing_dpp);
}

std::uint32_t session_reader::dpp_end() const {
    return stored_dpp(key_dpp_end).value_or(missing_dpp);
}

std::wstring session_reader::session_code() const {
    return stored_text(key_session);
}

std::wstring session_reader::orientation() const {
    return stored_text(key_orientation);
}

std::wstring session_reader::side() const {
    return stored_text(key_side);
}

void session_reader::seek_frame(std::uint32_t dpp) {
    seek_first_frame(*current_cursor_, dpp);
}

void session_reader::read_frame_at_cursor(cv::Mat& image) const {
    const leveldb::Iterator& cursor = *current_cursor_;
    const bool on_frame = cursor.Valid() && is_frame_key(as_view(cursor.key()));
    image = on_frame ? decode_frame(as_view(cursor.value())) : cv::Mat();
}

void session_reader::read_frame(std::uint32_t dpp, cv::Mat& image) const {
    const auto value = frame_at_or_after(*handle_, dpp);
    image = value ? decode_frame(*value) : cv::Mat();
}

session_info session_reader::info() const {
    session_info info;
    info.session_code = session_code();
    info.orientation = orientation();
    info.side = side();
    info.start_time = stored_time(key_time_start);
    info.end_time = stored_time(key_time_end);
    const auto start = stored_dpp(key_dpp_start);
    const auto end = stored_dpp(key_dpp_end);
    info.dpp_start = start.value_or(missing_dpp);
    info.dpp_end = end.value_or(missing_dpp);
    info.version = wide_text(find_value(*handle_, key_version).value_or(std::string()));
    info.size = range_size(info.dpp_start, info.dpp_end);
    info.has_frames = start && end;
    return info;
}

std::optional<std::uint32_t> session_reader::stored_dpp(std::string_view key) const {
    const auto value = find_value(*handle_, key);
    if (!value)
        return std::nullopt;
    return parse_stored(path_, key, *value, parse_dpp);
}

std::wstring session_reader::stored_text(std::string_view key) const {
    const auto value = find_value(*handle_, key);
    return value ? wide_text(*value) : no_data_text;
}

// A time the platform cannot show as a date (years beyond its broken-down time) shows as stored,
// so that such a session still lists with everything else it holds.
std::wstring session_reader::stored_time(std::string_view key) const {
    const auto value = find_value(*handle_, key);
    if (!value)
        return {};
    const std::int64_t seconds = parse_stored(path_, key, *value, parse_unix_seconds);
    return wide_text(format_local_time(seconds).value_or(*value));
}

// The engine's estimate for [start cursor's key, end cursor's key): the last frame is outside.
std::uint64_t session_reader::range_size(std::uint32_t start, std::uint32_t end) const {
    const std::string from = cursor_key_or(*start_cursor_, start);
    const std::string to = cursor_key_or(*end_cursor_, end);
    const leveldb::Range range(from, to);
    std::uint64_t size = 0;
    handle_->GetApproximateSizes(&range, 1, &size);
    return size;
}
