#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <stdexcept>

#include <leveldb/write_batch.h>
#include <opencv2/imgcodecs.hpp>

#include "recording/session_engine.h"
#include "recording/session_format.h"

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

// The handle lock is taken exclusively to replace the handle, shared to use it. The rest below the
// count is the writing thread's own: buffers kept from frame to frame (a frame is megabytes, and
// fresh memory for each would cost page faults), values stored since the open, and the durability
// state.
struct session_writer::state {
    state(session_clock clock, session_disk* disk)
        : options(writer_options(disk)), clock(std::move(clock)) {}

    leveldb::DB& open_handle() const;
    void encode_jpeg(const cv::Mat& image);
    void release_handle();
    void put_metadata(std::string_view key, const std::string& value);
    void put(leveldb::DB& handle, std::string_view key, const leveldb::Slice& value);
    void write(leveldb::DB& handle, leveldb::WriteBatch& batch);

    mutable std::shared_mutex handle_lock;
    std::unique_ptr<leveldb::DB> handle;
    std::string path;
    leveldb::Options options;
    const std::vector<int> jpeg_parameters{cv::IMWRITE_JPEG_QUALITY, 85};
    std::atomic<std::uint64_t> frames_written{0};
    std::atomic<bool> open{false};
    session_clock clock;
    std::vector<uchar> jpeg;
    leveldb::WriteBatch batch;
    std::map<std::string, std::string, std::less<>> stored_metadata;
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
    s.handle = open_database(path, s.options);
    s.path = path;
    s.last_sync_micros = s.options.env->NowMicros();
    s.open = true;
    s.put(*s.handle, key_version, as_slice(current_version));
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
    frames_written = 0;
    stored_metadata.clear();
    if (handle && unsynced_writes) {
        leveldb::WriteBatch nothing;
        handle->Write(synchronised_write(), &nothing);
    }
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
    leveldb::DB& db = open_handle();
    const auto stored = stored_metadata.find(key);
    if (stored != stored_metadata.end() && stored->second == value)
        return;
    put(db, key, value);
    stored_metadata[std::string(key)] = value;
}

std::wstring session_writer::session_code() const {
    std::shared_lock lock(state_->handle_lock);
    if (!state_->handle)
        return {};
    return wide_text(find_value(*state_->handle, key_session).value_or(std::string()));
}

// The codec is chosen by the text after the last dot; "*.jpeg" is the stored format's name.
void session_writer::state::encode_jpeg(const cv::Mat& image) {
    if (!cv::imencode("*.jpeg", image, jpeg, jpeg_parameters))
        throw std::runtime_error("JPEG encoding of the frame failed.");
}

// One atomic batch: a failure leaves neither the range nor the time pointing at a missing frame.
void session_writer::record_frame(const cv::Mat& image, std::uint32_t dpp) {
    state& s = *state_;
    s.encode_jpeg(image);
    const std::string key = frame_key(dpp);
    s.batch.Clear();
    if (s.frames_written == 0) {
        s.batch.Put(as_slice(key_dpp_start), key);
        s.batch.Put(as_slice(key_time_start), format_unix_seconds(s.clock()));
    }
    s.batch.Put(as_slice(key_dpp_end), key);
    s.batch.Put(as_slice(key_time_end), format_unix_seconds(s.clock()));
    s.batch.Put(key, as_slice(s.jpeg));
    std::shared_lock lock(s.handle_lock);
    s.write(s.open_handle(), s.batch);
    ++s.frames_written;
}

std::optional<std::string> session_writer::read_current_frame(std::uint32_t dpp) const {
    std::shared_lock lock(state_->handle_lock);
    if (!state_->handle)
        return std::nullopt;
    return frame_at_or_after(*state_->handle, dpp);
}

leveldb::DB& session_writer::state::open_handle() const {
    if (!handle)
        throw std::runtime_error("Session database is not open.");
    return *handle;
}

void session_writer::state::put(leveldb::DB& db, std::string_view key,
                                const leveldb::Slice& value) {
    leveldb::WriteBatch single;
    single.Put(as_slice(key), value);
    write(db, single);
}

// Writes are unsynchronised, but the first one after a second without a synchronised write is
// synchronised: a power cut then loses at most about the last second of recording, for one disk
// flush a second.
void session_writer::state::write(leveldb::DB& db, leveldb::WriteBatch& writes) {
    const std::uint64_t now = options.env->NowMicros();
    const bool sync = now - last_sync_micros >= sync_interval_micros;
    check_status(db.Write(sync ? synchronised_write() : put_options(), &writes));
    if (sync)
        last_sync_micros = now;
    unsynced_writes = !sync;
}
