#include <stdexcept>

#include "base/encoding.h"
#include "recording/session_engine.h"
#include "recording/session_format.h"

const std::wstring no_data_text = L"нет данных";

namespace {
leveldb::DB& engine(const std::shared_ptr<void>& handle) {
    return *static_cast<leveldb::DB*>(handle.get());
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

std::optional<std::uint32_t> stored_dpp(leveldb::DB& handle, const std::string& path,
                                        std::string_view key) {
    const auto value = find_value(handle, key);
    if (!value)
        return std::nullopt;
    return parse_stored(path, key, *value, parse_dpp);
}

std::wstring stored_text(leveldb::DB& handle, std::string_view key) {
    const auto value = find_value(handle, key);
    return value ? wide_text(*value) : no_data_text;
}

// A time the platform cannot show as a date (years beyond its broken-down time) shows as stored,
// so that such a session still lists with everything else it holds.
std::wstring stored_time(leveldb::DB& handle, const std::string& path, std::string_view key) {
    const auto value = find_value(handle, key);
    if (!value)
        return {};
    const std::int64_t seconds = parse_stored(path, key, *value, parse_unix_seconds);
    return wide_text(format_local_time(seconds).value_or(*value));
}

// The engine's estimate for the range from the first frame's key to the last one's: the last
// frame is outside. A key that is not stored measures as the first key after it.
std::uint64_t range_size(leveldb::DB& handle, std::uint32_t start, std::uint32_t end) {
    const std::string from = frame_key(start), to = frame_key(end);
    const leveldb::Range range(from, to);
    std::uint64_t size = 0;
    handle.GetApproximateSizes(&range, 1, &size);
    return size;
}
} // namespace

session_info read_session_info(leveldb::DB& handle, const std::string& path) {
    session_info info;
    info.session_code = stored_text(handle, key_session);
    info.orientation = stored_text(handle, key_orientation);
    info.side = stored_text(handle, key_side);
    info.start_time = stored_time(handle, path, key_time_start);
    info.end_time = stored_time(handle, path, key_time_end);
    const auto start = stored_dpp(handle, path, key_dpp_start);
    const auto end = stored_dpp(handle, path, key_dpp_end);
    info.dpp_start = start.value_or(missing_dpp);
    info.dpp_end = end.value_or(missing_dpp);
    info.version = wide_text(find_value(handle, key_version).value_or(std::string()));
    info.size = range_size(handle, info.dpp_start, info.dpp_end);
    info.has_frames = start && end;
    return info;
}

session_reader::session_reader(session_hold hold, std::shared_ptr<void> handle)
    : hold_(std::move(hold)), handle_(std::move(handle)),
      dpp_start_(stored_dpp(engine(handle_), path(), key_dpp_start).value_or(missing_dpp)),
      dpp_end_(stored_dpp(engine(handle_), path(), key_dpp_end).value_or(missing_dpp)),
      current_(cursor_over(engine(handle_))) {}

session_info session_reader::info() const {
    return read_session_info(engine(handle_), path());
}

key_counts session_reader::count_keys() const {
    key_counts counts;
    const auto cursor = new_cursor(engine(handle_));
    for (cursor->SeekToFirst(); cursor->Valid(); cursor->Next()) {
        const std::string_view key = as_view(cursor->key());
        if (is_frame_key(key))
            ++counts.frames;
        else if (!is_metadata_key(key))
            ++counts.others;
    }
    return counts;
}

frame_cursor session_reader::frames(std::uint32_t last) const {
    return cursor_over(engine(handle_), last);
}
