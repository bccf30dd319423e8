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
#include "recording/table_flusher.h"

std::int64_t system_unix_seconds() {
    using namespace std::chrono;
    return floor<seconds>(system_clock::now()).time_since_epoch().count();
}

// The handle lock is taken exclusively to replace the handle (and its flusher), shared to use it.
// The rest below the count is the writing thread's own: buffers kept from frame to frame (a frame
// is megabytes, and fresh memory for each would cost page faults), values stored since the open,
// and the newest frame's key and time (stored as the range's end at the close).
struct session_writer::state {
    state(session_clock clock, session_disk* test_disk)
        : disk(test_disk ? static_cast<leveldb::Env*>(test_disk) : named_engine_env()),
          options(writer_options(disk)), clock(std::move(clock)) {}

    void release_handle();
    void store_end();
    void put_metadata(std::string_view key, const std::string& value);
    void put(std::string_view key, std::string_view value);
    void write(leveldb::WriteBatch& writes);

    unlogged_disk disk;
    mutable std::shared_mutex handle_lock;
    std::unique_ptr<leveldb::DB> handle;
    std::unique_ptr<table_flusher> flusher; // stopped before the handle goes
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
    s.flusher = std::make_unique<table_flusher>(*handle, s.disk);
    s.path = path;
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

// Everything written reaches a table, synced, before the handle goes: the engine writes no log
// that a later open could recover it from.
void session_writer::state::release_handle() {
    open = false;
    flusher.reset();
    if (handle)
        store_end();
    frames_written = 0;
    stored_metadata.clear();
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
    if (frames_written > 0) {
        leveldb::WriteBatch end;
        end.Put(as_slice(key_dpp_end), end_key);
        end.Put(as_slice(key_time_end), format_unix_seconds(end_time));
        handle->Write(leveldb::WriteOptions(), &end);
    }
    flush_write_buffer(*handle);
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

// No write is synchronised: with no log there is nothing to synchronise but tables, which the
// flusher has written within about a second.
void session_writer::state::write(leveldb::WriteBatch& writes) {
    if (!handle)
        throw std::runtime_error("Session database is not open.");
    check_status(handle->Write(leveldb::WriteOptions(), &writes));
    flusher->written();
}
