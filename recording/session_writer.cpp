#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <stdexcept>

#include <leveldb/write_batch.h>
#include <opencv2/imgcodecs.hpp>

#include "base/encoding.h"
#include "recording/session_engine.h"
#include "recording/session_format.h"

namespace {
constexpr std::uint64_t sync_interval_micros = 1000000;
} // namespace

std::int64_t system_unix_seconds() {
    using namespace std::chrono;
    return floor<seconds>(system_clock::now()).time_since_epoch().count();
}

// The handle lock is taken exclusively to replace the handle, shared to use it. The rest below the
// count is the writing thread's own: buffers kept from frame to frame (a frame is megabytes, and
// fresh memory for each would cost page faults), values stored since the open, the newest frame's
// key and time (stored as the range's end at the close), and the durability state.
struct session_writer::state {
    state(session_clock clock, session_disk* disk)
        : options(writer_options(disk)), clock(std::move(clock)) {}

    void release_handle();
    void store_end();
    void put_metadata(std::string_view key, const std::string& value);
    void put(std::string_view key, std::string_view value);
    void write(leveldb::WriteBatch& writes);

    mutable std::shared_mutex handle_lock;
    std::unique_ptr<leveldb::DB> handle;
    std::string path;
    leveldb::Options options;
    std::atomic<std::uint64_t> frames_written{0};
    std::atomic<bool> open{false};
    session_clock clock;
    std::vector<uchar> jpeg;
    leveldb::WriteBatch batch;
    std::map<std::string, std::string, std::less<>> stored_metadata;
    std::string end_key;
    std::int64_t end_time = 0;
    std::uint64_t last_sync_micros = 0;
    bool unsynced_writes = false;
};

session_writer::session_writer(session_clock clock, session_disk* disk)
    : state_(std::make_unique<state>(std::move(clock), disk)) {}

// Closed as close() does, so that what was written survives a power cut.
session_writer::~session_writer() {
    close();
}

void session_writer::open(const std::string& path) {
    state& s = *state_;
    std::unique_lock lock(s.handle_lock);
    s.release_handle();
    leveldb::DB* handle = nullptr;
    check_status(leveldb::DB::Open(s.options, path, &handle));
    s.handle.reset(handle);
    s.path = path;
    s.last_sync_micros = s.options.env->NowMicros();
    s.open = true;
    s.put(key_version, current_version);
}

void session_writer::close() {
    std::unique_lock lock(state_->handle_lock);
    state_->release_handle();
}

bool session_writer::is_open() const {
    return state_->open;
}

std::string session_writer::open_path() const {
    std::shared_lock lock(state_->handle_lock);
    return state_->path;
}

std::uint64_t session_writer::frames_written() const {
    return state_->frames_written;
}

// What was written since the last synchronised write reaches the disk before the handle goes, so
// a closed session survives a power cut whole.
void session_writer::state::release_handle() {
    open = false;
    if (handle)
        store_end();
    frames_written = 0;
    stored_metadata.clear();
    unsynced_writes = false;
    handle.reset();
    path.clear();
}

void session_writer::set_session_code(const std::wstring& text) {
    state_->put_metadata(key_session, narrow_text(text));
}

void session_writer::set_orientation(const std::wstring& text) {
    state_->put_metadata(key_orientation, narrow_text(text));
}

void session_writer::set_side(const std::wstring& text) {
    state_->put_metadata(key_side, narrow_text(text));
}

// A value equal to the one this writer stored since it was opened is not stored again: the
// recorder sets the same three values on every reply of the coordinate server.
void session_writer::state::put_metadata(std::string_view key, const std::string& value) {
    std::shared_lock lock(handle_lock);
    const auto stored = stored_metadata.find(key);
    if (stored != stored_metadata.end() && stored->second == value)
        return;
    put(key, value);
    stored_metadata[std::string(key)] = value;
}

// The range's end is stored once, here, and not with every frame: a key above every frame key
// rewritten with each frame would make every table the engine flushes span all later frames, so
// that it would merge (read and write again) each of them. A failure is not reported: the handle
// of a failed disk refuses it, and whoever opens the folder next stores the end from the frames.
void session_writer::state::store_end() {
    leveldb::WriteBatch end;
    if (frames_written > 0) {
        end.Put(as_slice(key_dpp_end), end_key);
        end.Put(as_slice(key_time_end), format_unix_seconds(end_time));
    }
    if (frames_written > 0 || unsynced_writes) {
        leveldb::WriteOptions synchronised;
        synchronised.sync = true;
        handle->Write(synchronised, &end);
    }
}

std::wstring session_writer::session_code() const {
    std::shared_lock lock(state_->handle_lock);
    if (!state_->handle)
        return {};
    return wide_text(find_value(*state_->handle, key_session).value_or(std::string()));
}

// One atomic batch: a failure leaves the range's start pointing at no missing frame. The codec is
// chosen by the text after the last dot; "*.jpeg" is the stored format's name.
void session_writer::record_frame(const cv::Mat& image, std::uint32_t dpp) {
    state& s = *state_;
    if (!cv::imencode("*.jpeg", image, s.jpeg, {cv::IMWRITE_JPEG_QUALITY, 85}))
        throw std::runtime_error("JPEG encoding of the frame failed.");
    std::string key = frame_key(dpp);
    const std::int64_t now = s.clock();
    s.batch.Clear();
    if (s.frames_written == 0) {
        s.batch.Put(as_slice(key_dpp_start), key);
        s.batch.Put(as_slice(key_time_start), format_unix_seconds(now));
    }
    s.batch.Put(key, leveldb::Slice(reinterpret_cast<const char*>(s.jpeg.data()), s.jpeg.size()));
    std::shared_lock lock(s.handle_lock);
    s.write(s.batch);
    s.end_key = std::move(key);
    s.end_time = now;
    ++s.frames_written;
}

std::optional<std::string> session_writer::read_current_frame(std::uint32_t dpp) const {
    std::shared_lock lock(state_->handle_lock);
    if (!state_->handle)
        return std::nullopt;
    return frame_at_or_after(*state_->handle, dpp);
}

void session_writer::state::put(std::string_view key, std::string_view value) {
    leveldb::WriteBatch single;
    single.Put(as_slice(key), as_slice(value));
    write(single);
}

// Writes are unsynchronised, but the first one after a second without a synchronised write is
// synchronised: a power cut then loses at most about the last second of recording, for one disk
// flush a second.
void session_writer::state::write(leveldb::WriteBatch& writes) {
    if (!handle)
        throw std::runtime_error("Session database is not open.");
    const std::uint64_t now = options.env->NowMicros();
    leveldb::WriteOptions write_options;
    write_options.sync = now - last_sync_micros >= sync_interval_micros;
    check_status(handle->Write(write_options, &writes));
    if (write_options.sync)
        last_sync_micros = now;
    unsynced_writes = !write_options.sync;
}
