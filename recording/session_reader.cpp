#include <stdexcept>

#include "recording/session_engine.h"
#include "recording/session_format.h"

const std::wstring no_data_text = L"нет данных";

namespace {
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

// Where the first key at or after the DPP's frame key stands; the DPP's own frame key when the
// database ends before it.
std::string key_at_or_after(leveldb::DB& handle, std::uint32_t dpp) {
    const auto cursor = new_cursor(handle);
    cursor->Seek(frame_key(dpp));
    return cursor->Valid() ? cursor->key().ToString() : frame_key(dpp);
}

// The engine's estimate for the range from the first frame's key to the last one's: the last
// frame is outside.
std::uint64_t range_size(leveldb::DB& handle, std::uint32_t start, std::uint32_t end) {
    const std::string from = key_at_or_after(handle, start), to = key_at_or_after(handle, end);
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

session_reader::state::state(session_hold hold, std::unique_ptr<leveldb::DB> handle)
    : hold(std::move(hold)), handle(std::move(handle)),
      dpp_start(stored_dpp(*this->handle, this->hold.path(), key_dpp_start).value_or(missing_dpp)),
      dpp_end(stored_dpp(*this->handle, this->hold.path(), key_dpp_end).value_or(missing_dpp)),
      current(cursor_over(*this->handle)) {}

session_reader::session_reader(std::unique_ptr<state> state) : state_(std::move(state)) {}
session_reader::~session_reader() = default;

const std::string& session_reader::path() const {
    return state_->hold.path();
}

std::uint32_t session_reader::dpp_start() const {
    return state_->dpp_start;
}

std::uint32_t session_reader::dpp_end() const {
    return state_->dpp_end;
}

session_info session_reader::info() const {
    return read_session_info(*state_->handle, path());
}

key_counts session_reader::count_keys() const {
    key_counts counts;
    const auto cursor = new_cursor(*state_->handle);
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
    return cursor_over(*state_->handle, last);
}

frame_cursor& session_reader::current() {
    return state_->current;
}

const frame_cursor& session_reader::current() const {
    return state_->current;
}
