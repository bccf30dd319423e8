#pragma once

// The program's layer over leveldb for session databases: one folder per recording session,
// frames under ten-digit DPP keys plus a few metadata keys (recording/session_format.h).
//
// Text: paths are narrow strings handed to the engine as they are. Text values ("session",
// "orientation", "side") and the texts of session_info are wide text at this interface; they are
// stored as the bytes of the C library's current locale (wide_text/narrow_text), so the writer
// and every reader on one machine agree as long as the process sets its locale at start.
//
// Failures of the engine (open, put) are thrown as std::runtime_error carrying the engine's
// status text. A stored value that is not a number where a number belongs throws
// std::invalid_argument (or std::runtime_error naming the folder, from session_reader).
//
// Depends on the standard library, leveldb and OpenCV only; safe to use from worker threads as
// each class below says.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

#include <leveldb/db.h>
#include <leveldb/env.h>
#include <leveldb/write_batch.h>
#include <opencv2/core/mat.hpp>

// The DPP reported for a session whose "dpp_start" or "dpp_end" key is missing (no frame was
// recorded); the database list shows it as "-".
inline constexpr std::uint32_t missing_dpp = 4294967295u;

// Whole seconds since 1970-01-01 UTC; a seam so that tests can pin the recorded times.
using session_clock = std::function<std::int64_t()>;
std::int64_t system_unix_seconds();

// Receives the text of one failure while the index goes on (the GUI logs it as an error row).
using session_error_sink = std::function<void(const std::string& message)>;

// An 8-bit single-channel 480 x 640 black image with "Requested frame not found [<dpp>]" (or
// "[<code>:<dpp>]") drawn at the top left: what the data service sends for a missing frame.
cv::Mat not_found_image(std::uint32_t dpp);
cv::Mat not_found_image(const std::wstring& code, std::uint32_t dpp);

// The largest width and height of a frame that any camera of the recorder gives (the camera
// simulator's limit too). A stored frame that declares more is not decoded: the decoder would
// allocate whatever a damaged or planted value declares, gigabytes for a few hundred bytes.
inline constexpr int max_frame_side = 8192;

// Why a stored value is not handed to the decoder: "no readable JPEG header" when its size
// cannot be read (declared_jpeg_size; everything the recorder stores is a JPEG), or the size it
// declares when that is more than max_frame_side on a side; empty when it may be decoded.
std::string frame_refusal(std::string_view value);

// A stored frame value decoded.
struct decoded_frame {
    cv::Mat image;       // empty when nothing was decoded
    std::string refused; // frame_refusal's text when the decoder was not asked at all
};

// The one way a stored frame is decoded, with the decoder's imread flags, after frame_refusal
// let it through. A JPEG the decoder cannot read gives an empty image without a reason.
decoded_frame decode_stored_frame(std::string_view value, int flags);

// Steps a cursor from frame key to frame key. Keys that are neither frame keys nor metadata keys
// (another program's, or damage) may lie among the frames; each step passes over them, so that
// none is read as a frame and none ends a walk early. No frame key sorts above "9999999999", so a
// walk ends at the first key above that or above `last`, without reading on to the end.
struct frame_walk {
    std::string last = "9999999999"; // no frame above this key is visited
    std::uint64_t passed = 0;        // keys passed over that are not frame keys

    // From where the cursor stands, forward to the first frame key; false when none follows up
    // to `last` (the cursor then stands beyond the frames or off the end).
    bool settle(leveldb::Iterator& cursor);
    // On to the frame after the one under the cursor, likewise.
    bool next(leveldb::Iterator& cursor);
    // Back to the frame before the one under the cursor; false when none precedes.
    bool previous(leveldb::Iterator& cursor);
};

// One session database opened for writing. Thread safety: one thread at a time may open, close,
// put and record; any number of other threads may call read_current_frame, is_open and
// frames_written meanwhile. A reader/writer lock keeps the engine handle alive while a read is
// inside it; close waits for such reads to leave.
//
// Durability: every write is unsynchronised except the first one after a second without a
// synchronised write, and close synchronises what is left; a power cut loses at most about the
// last second. The seconds are those of the engine environment's clock (Env::NowMicros).
class session_writer {
public:
    // The clock stamps "time_start"/"time_end"; env replaces the engine's file system and is for
    // fault-injecting tests only (null: the engine's default). All other options stay fixed.
    explicit session_writer(session_clock clock = system_unix_seconds, leveldb::Env* env = nullptr);
    ~session_writer();
    session_writer(const session_writer&) = delete;
    session_writer& operator=(const session_writer&) = delete;

    // Opens or creates the folder and writes "version". A writer that is already open is closed
    // first. The open flag is set before "version" is put, so a failing put leaves it open.
    void open(const std::string& path);
    // Releases the handle, clears the open flag and the frames-written count.
    void close();
    bool is_open() const { return open_; }
    // Frames stored by record_frame since the last close.
    std::uint64_t frames_written() const { return frames_written_; }

    // Each puts its metadata key unless this writer stored the same value since it was opened;
    // throws when the writer is not open or the put fails.
    void set_session_code(const std::wstring& text);
    void set_orientation(const std::wstring& text);
    void set_side(const std::wstring& text);

    // The stored "session" value; empty when the key is missing or the writer is closed.
    std::wstring session_code() const;

    // Stores the image as a JPEG of quality 85 under the frame key of the DPP.
    void put_frame(const cv::Mat& image, std::uint32_t dpp);

    // The recorder's step: the range and time keys ("dpp_start"/"time_start" with the first frame
    // after an open only) and the frame in one atomic write, then the count. The image is encoded
    // first, so a frame that cannot be encoded leaves the database unchanged. Throws on a failed
    // write, which then stored none of it, and leaves the count unchanged.
    void record_frame(const cv::Mat& image, std::uint32_t dpp);

    // The frame at or after the DPP decoded as 8-bit BGR; the not-found image with the DPP when
    // there is none, the value is no image, or the writer is closed.
    void read_current_frame(std::uint32_t dpp, cv::Mat& image) const;
    // The stored bytes of the first frame at or after the DPP (frame_walk), as read_current_frame
    // would decode them; nothing when the writer is closed or no frame follows.
    std::optional<std::string> current_frame_bytes(std::uint32_t dpp) const;

private:
    leveldb::DB& open_handle() const;
    void encode_jpeg(const cv::Mat& image);
    void release_handle();
    void put_metadata(std::string_view key, const std::string& value);
    void put(leveldb::DB& handle, std::string_view key, const leveldb::Slice& value);
    void write(leveldb::DB& handle, leveldb::WriteBatch& batch);

    mutable std::shared_mutex handle_lock_; // exclusive to replace handle_, shared to use it
    std::unique_ptr<leveldb::DB> handle_;
    leveldb::Options options_;
    std::vector<int> jpeg_parameters_;
    std::atomic<std::uint64_t> frames_written_{0};
    std::atomic<bool> open_{false};
    session_clock clock_;
    // The writing thread's own: buffers kept from frame to frame (a frame is megabytes, and fresh
    // memory for each would cost page faults), values stored since the open, and the durability
    // state.
    std::vector<uchar> jpeg_;
    leveldb::WriteBatch batch_;
    std::map<std::string, std::string, std::less<>> stored_metadata_;
    std::uint64_t last_sync_micros_ = 0;
    bool unsynced_writes_ = false;
};

// The session being recorded: written by the write thread, read by data-service threads and the
// telemetry thread. Closed at start; lives for the whole process.
extern session_writer current_session;

// Summary of one recorded session as the database list shows it.
struct session_info {
    std::wstring session_code; // "нет данных" when the key is missing, likewise the next two
    std::wstring orientation;
    std::wstring side;
    std::wstring start_time; // local "YYYY-MM-DD HH:MM:SS"; empty when the key is missing
    std::wstring end_time;
    std::uint32_t dpp_start = missing_dpp;
    std::uint32_t dpp_end = missing_dpp;
    std::wstring version;    // empty when the key is missing
    std::uint64_t size = 0;  // approximate bytes from the first frame to the last one, excluded
    bool has_frames = false; // both range keys are stored; only then can a request match
};

// The text shown for a missing session code, orientation or side.
extern const std::wstring no_data_text;

// One recorded session opened read-only. Not thread-safe: one owner (the viewer, the index) uses
// it at a time. The engine's lock makes the open fail while another handle holds the folder.
class session_reader {
public:
    // Opens without creating; the start cursor stands at the frame key of dpp_start(), the end
    // cursor at that of dpp_end(), the current cursor at the first frame from dpp_start(). Every
    // failure to open or read names the folder ("Session folder <path> cannot be read: ...").
    explicit session_reader(const std::string& path);
    session_reader(const session_reader&) = delete;
    session_reader& operator=(const session_reader&) = delete;

    const std::string& path() const { return path_; }

    // The stored range; missing_dpp when the key is missing.
    std::uint32_t dpp_start() const;
    std::uint32_t dpp_end() const;

    std::wstring session_code() const;
    std::wstring orientation() const;
    std::wstring side() const;

    // Moves the current cursor to the first frame at or after the DPP (frame_walk); beyond the
    // frames when there is none.
    void seek_frame(std::uint32_t dpp);
    // Decodes the frame under the current cursor; empty when it is no image or the cursor stands
    // on no frame key.
    void read_frame_at_cursor(cv::Mat& image) const;
    // The first frame at or after the DPP; empty when there is none.
    void read_frame(std::uint32_t dpp, cv::Mat& image) const;

    session_info info() const;

    // For the viewer and stitching, which step cursors themselves. Owned by the reader: they live
    // until it is destroyed, and extra cursors made on the handle must be deleted before that.
    leveldb::DB& handle() const { return *handle_; }
    leveldb::Iterator& start_cursor() const { return *start_cursor_; }
    leveldb::Iterator& end_cursor() const { return *end_cursor_; }
    leveldb::Iterator& current_cursor() const { return *current_cursor_; }

private:
    std::optional<std::uint32_t> stored_dpp(std::string_view key) const;
    std::wstring stored_text(std::string_view key) const;
    std::wstring stored_time(std::string_view key) const;
    std::uint64_t range_size(std::uint32_t start, std::uint32_t end) const;

    std::string path_;
    // Declared before the cursors, so it is destroyed after them as the engine requires.
    std::unique_ptr<leveldb::DB> handle_;
    std::unique_ptr<leveldb::Iterator> start_cursor_;
    std::unique_ptr<leveldb::Iterator> end_cursor_;
    std::unique_ptr<leveldb::Iterator> current_cursor_;
};

struct session_index_entry {
    session_info info;
    std::string path;
};
using session_index_entries = std::deque<session_index_entry>;

// Every session database directly under the root, in the order the platform lists the folders;
// hidden entries and files are skipped. A folder that cannot be opened or read is reported to the
// sink and left out. A root that cannot be listed gives no entries.
session_index_entries scan_database_root(const std::string& root,
                                         const session_error_sink& report_error);

// The process-wide index, the folder it scans and their lock. Hold session_index_lock exclusively
// to set database_root or call refresh_session_index, shared to call read_indexed_frame.
extern std::shared_mutex session_index_lock;
extern std::string database_root;
extern session_index_entries session_index;

// Rebuilds session_index from database_root (see scan_database_root).
void refresh_session_index(const session_error_sink& report_error);

// Takes session_index_lock exclusively, makes the folder the database root and rebuilds the index.
void set_database_root(const std::string& root, const session_error_sink& report_error);

// The first indexed session with exactly this code whose range holds the DPP (sessions without
// frames never match) gives its frame at or after the DPP; otherwise, or when that value is no
// image, the not-found image with code and DPP. Throws when the folder cannot be opened.
void read_indexed_frame(const std::wstring& code, std::uint32_t dpp, cv::Mat& image);

// The stored bytes that read_indexed_frame would decode; nothing when no indexed session matches
// or no frame follows the DPP in it.
// The session is read through a handle kept open for the next request (reopening a database costs
// milliseconds and writes to its folder), so any number of threads may ask at once. Throws when
// the folder cannot be opened.
std::optional<std::string> indexed_frame_bytes(const std::wstring& code, std::uint32_t dpp);

// The handles kept open by indexed_frame_bytes hold their folders' locks. Hold session_index_lock
// exclusively to close them all (refresh_session_index does, and so must anything that opens an
// indexed folder itself); close_idle_session_handles, safe under the shared lock, closes those
// unused for the given time.
void close_session_handles();
void close_idle_session_handles(std::chrono::steady_clock::duration idle);
