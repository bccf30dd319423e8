#include "recording/session_engine.h"

#include <chrono>
#include <filesystem>

#include <leveldb/write_batch.h>
#include <opencv2/imgcodecs.hpp>

#include "recording/session_format.h"

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
    options.env = named_engine_env();
    return options;
}

// The time of the engine's last write into the folder: its newest log or table file. Read before
// the engine opens the folder, since the open turns the log into a fresh table.
std::optional<std::int64_t> last_write_seconds(const std::string& path) {
    namespace fs = std::filesystem;
    std::optional<fs::file_time_type> newest;
    std::error_code error;
    for (fs::directory_iterator entry(path, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string type = entry->path().extension().string();
        std::error_code unreadable;
        const fs::file_time_type written = entry->last_write_time(unreadable);
        if ((type == ".log" || type == ".ldb" || type == ".sst") && !unreadable &&
            (!newest || written > *newest))
            newest = written;
    }
    if (!newest)
        return std::nullopt;
    const auto now =
        std::chrono::system_clock::now() + (*newest - fs::file_time_type::clock::now());
    return std::chrono::floor<std::chrono::seconds>(now.time_since_epoch()).count();
}
} // namespace

// Frames are JPEG, which block compression never shrinks: trying it only costs a buffer of each
// table block's size. A larger write buffer means fewer, larger tables for the same bytes, so the
// per-table work (synchronising the table, recording it in the manifest, moving it down the levels)
// is done less often. Readers need neither: every table records how its blocks are stored.
leveldb::Options writer_options(unlogged_disk& env) {
    leveldb::Options options = common_options();
    options.create_if_missing = true;
    options.compression = leveldb::kNoCompression;
    options.write_buffer_size = 16 * 1024 * 1024;
    options.env = &env;
    return options;
}

void check_status(const leveldb::Status& status) {
    if (!status.ok())
        throw std::runtime_error(status.ToString());
}

std::runtime_error unreadable_session(const std::string& path, const std::string& why) {
    return std::runtime_error("Session folder " + path + " cannot be read: " + why);
}

// The engine would otherwise put its lock and log files into any folder it is given (and rename a
// file named LOG there), while failing with the same status as here.
opened_session open_session_folder(const std::string& path) {
    leveldb::Options options = common_options();
    options.create_if_missing = false;
    const std::string current_file = path + "/CURRENT";
    leveldb::Status status = leveldb::Status::InvalidArgument(
        current_file, "does not exist (create_if_missing is false)");
    leveldb::DB* handle = nullptr;
    std::optional<std::int64_t> last_write;
    if (options.env->FileExists(current_file)) {
        last_write = last_write_seconds(path);
        status = leveldb::DB::Open(options, path, &handle);
    }
    if (!status.ok())
        throw unreadable_session(path, status.ToString());
    opened_session opened{std::unique_ptr<leveldb::DB>(handle), {}};
    opened.repaired = repair_unclosed_end(*opened.handle, path, last_write);
    return opened;
}

std::unique_ptr<leveldb::Iterator> new_cursor(leveldb::DB& handle) {
    leveldb::ReadOptions options;
    options.verify_checksums = false;
    options.fill_cache = true;
    options.snapshot = nullptr;
    return std::unique_ptr<leveldb::Iterator>(handle.NewIterator(options));
}

std::optional<std::string> find_value(leveldb::DB& handle, std::string_view key) {
    const auto cursor = new_cursor(handle);
    cursor->Seek(as_slice(key));
    if (!cursor->Valid() || cursor->key() != as_slice(key))
        return std::nullopt;
    return cursor->value().ToString();
}

// No frame key sorts above the last one's, so a walk forward ends at the first key beyond it
// without reading on to the end; a walk back ends before the first possible frame key.
struct frame_cursor::walk {
    std::unique_ptr<leveldb::Iterator> cursor;
    std::string last;
    std::uint64_t passed = 0;
    bool on_frame = false;

    // From where the cursor stands, forward or back, to the first frame key.
    bool settle(bool forward) {
        for (; cursor->Valid(); forward ? cursor->Next() : cursor->Prev()) {
            const std::string_view key = as_view(cursor->key());
            if (forward ? key > last : key < "0000000000")
                break;
            if (is_frame_key(key))
                return on_frame = true;
            ++passed;
        }
        return on_frame = false;
    }
};

frame_cursor::frame_cursor(std::unique_ptr<walk> walk) : walk_(std::move(walk)) {}
frame_cursor::frame_cursor(frame_cursor&& other) noexcept = default;
frame_cursor::~frame_cursor() = default;

bool frame_cursor::seek(std::uint32_t dpp) {
    if (dpp == 0)
        walk_->cursor->SeekToFirst();
    else
        walk_->cursor->Seek(frame_key(dpp));
    return walk_->settle(true);
}

bool frame_cursor::next() {
    if (walk_->cursor->Valid())
        walk_->cursor->Next();
    return walk_->settle(true);
}

bool frame_cursor::previous() {
    if (walk_->cursor->Valid())
        walk_->cursor->Prev();
    return walk_->settle(false);
}

bool frame_cursor::valid() const {
    return walk_->on_frame;
}

std::uint32_t frame_cursor::dpp() const {
    return parse_dpp(as_view(walk_->cursor->key()));
}

std::string_view frame_cursor::bytes() const {
    return as_view(walk_->cursor->value());
}

cv::Mat frame_cursor::frame() const {
    return valid() ? decode_stored_frame(bytes(), cv::IMREAD_COLOR).image : cv::Mat();
}

std::uint64_t frame_cursor::passed() const {
    return walk_->passed;
}

frame_cursor cursor_over(leveldb::DB& handle, std::uint32_t last) {
    return frame_cursor(std::make_unique<frame_cursor::walk>(
        frame_cursor::walk{new_cursor(handle), frame_key(last)}));
}

std::optional<std::string> frame_at_or_after(leveldb::DB& handle, std::uint32_t dpp) {
    frame_cursor cursor = cursor_over(handle);
    if (!cursor.seek(dpp))
        return std::nullopt;
    return std::string(cursor.bytes());
}

namespace {
// The newest frame: from the last key back, over the metadata keys and any other program's keys
// after the frames.
std::optional<std::uint32_t> newest_frame(leveldb::DB& handle) {
    frame_cursor::walk walk{new_cursor(handle), frame_key(missing_dpp)};
    walk.cursor->SeekToLast();
    if (!walk.settle(false))
        return std::nullopt;
    return parse_dpp(as_view(walk.cursor->key()));
}

// A stored end that is no number is left for the reader to refuse, as any damaged range.
bool end_is_stale(leveldb::DB& handle, std::uint32_t newest) {
    const auto end = find_value(handle, key_dpp_end);
    try {
        return !end || parse_dpp(*end) < newest;
    } catch (const std::invalid_argument&) {
        return false;
    }
}

std::int64_t end_time(leveldb::DB& handle, std::optional<std::int64_t> last_write) {
    if (last_write)
        return *last_write;
    try {
        return parse_unix_seconds(find_value(handle, key_time_start).value_or(""));
    } catch (const std::invalid_argument&) {
        return system_unix_seconds();
    }
}
} // namespace

// Synchronised, so that the repair is done once. A failing write is said in the row; the session
// is then read as it is.
std::string repair_unclosed_end(leveldb::DB& handle, const std::string& path,
                                std::optional<std::int64_t> last_write) {
    const std::optional<std::uint32_t> newest = newest_frame(handle);
    if (!newest || !find_value(handle, key_dpp_start) || !end_is_stale(handle, *newest))
        return {};
    const std::int64_t time = end_time(handle, last_write);
    leveldb::WriteBatch end;
    end.Put(as_slice(key_dpp_end), frame_key(*newest));
    end.Put(as_slice(key_time_end), format_unix_seconds(time));
    leveldb::WriteOptions synchronised;
    synchronised.sync = true;
    const leveldb::Status stored = handle.Write(synchronised, &end);
    std::string row = "Session folder " + path + " was not closed by its recorder (it stopped or " +
                      "lost power while recording): ";
    if (!stored.ok())
        return row + "its end could not be stored: " + stored.ToString();
    return row + "its end is now its newest frame, DPP " + std::to_string(*newest) +
           ", recorded until about " + format_local_time(time).value_or(format_unix_seconds(time)) +
           ".";
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
