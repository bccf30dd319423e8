#pragma once

// The recorded sessions: one database folder per recording session under a root, frames under
// ten-digit DPP keys plus a few metadata keys (recording/session_format.h). Paths are narrow
// strings; text values are wide text here and stored in the C library's current locale
// (wide_text/narrow_text). Failures of the engine are thrown as std::runtime_error with its status
// text; a damaged number as std::invalid_argument, or from a reader as std::runtime_error naming
// the folder; a folder the store will not open for the caller as session_refused.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <opencv2/core/mat.hpp>

// The DPP of a missing "dpp_start" or "dpp_end" (no frame recorded); the list shows "-".
inline constexpr std::uint32_t missing_dpp = 4294967295u;

// Whole seconds since 1970-01-01 UTC; tests pin the recorded times with their own.
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

struct session_index_entry {
    session_info info;
    std::string path;
};
using session_index_entries = std::deque<session_index_entry>;

// What one session's keys are: frames, and keys that are neither frames nor metadata.
struct key_counts {
    std::uint64_t frames = 0;
    std::uint64_t others = 0;
};

// A folder that the store does not open for this caller: it is in use (the text says by whom) or
// holds no session database.
struct session_refused : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Steps over the frames of one session. Keys that are neither frame keys nor metadata keys
// (another program's, or damage) may lie among the frames; each step passes over them, so that
// none is read as a frame and none ends a walk early. Made by a session_reader, which must outlive
// it; one thread at a time.
class frame_cursor {
public:
    struct walk; // the engine's cursor and where the walk ends (internal)
    explicit frame_cursor(std::unique_ptr<walk> walk);
    frame_cursor(frame_cursor&& other) noexcept;
    ~frame_cursor();

    // To the first frame at or after the DPP; false when none follows up to the last DPP. From 0
    // it starts at the first key of all, so that keys before every frame key count as passed.
    bool seek(std::uint32_t dpp);
    // To the next or the previous frame; false, on no frame, when there is none.
    bool next();
    bool previous();

    // Whether it stands on a frame; the three below only then.
    bool valid() const;
    std::uint32_t dpp() const;
    // The stored value, valid until the cursor moves.
    std::string_view bytes() const;
    // The value decoded as 8-bit BGR; empty when it is no image.
    cv::Mat frame() const;

    // Keys passed over that are not frame keys.
    std::uint64_t passed() const;

private:
    std::unique_ptr<walk> walk_;
};

// The engine's file system as fault-injecting tests replace it (internal).
struct session_disk;

// One session database opened for writing; the store's own writers (the session being recorded,
// edits) go through the store, others are other programs to it. Thread safety: one thread at a
// time may open, close, set and record; any other thread may call the const members meanwhile, and
// close waits for reads inside the engine to leave. Durability: values reach the disk once, in the
// engine's tables (it keeps no log); a thread of the writer's has a table written, and synced, from
// whatever waited a second for one, and close writes the rest, so a crash or a power cut loses at
// most about the last second and a closed session is whole. The range's end ("dpp_end"/"time_end")
// is stored at the close only; a session whose writer never closed (a crash, a power cut) gets it
// from its newest frame when the store next opens it.
class session_writer {
public:
    // The clock stamps "time_start"/"time_end"; disk is for fault-injecting tests only.
    explicit session_writer(session_clock clock = system_unix_seconds,
                            session_disk* disk = nullptr);
    ~session_writer();

    // Opens or creates the folder and writes "version", closing what was open. The open flag is
    // set before "version" is put, so a failing put leaves it open.
    void open(const std::string& path);
    // Stores the range's end when frames were recorded since the open, has everything written into
    // a synced table, then releases the handle and clears the open flag and the frames-written
    // count.
    void close();
    bool is_open() const;
    // The folder open now; empty when closed.
    std::string open_path() const;
    // Frames stored by record_frame since the last close.
    std::uint64_t frames_written() const;

    // Each puts its metadata key unless this writer stored the same value since it was opened;
    // throws when the writer is not open or the put fails.
    void set_session_code(const std::wstring& text);
    void set_orientation(const std::wstring& text);
    void set_side(const std::wstring& text);

    // The stored "session" value; empty when the key is missing or the writer is closed.
    std::wstring session_code() const;

    // The frame as a JPEG of quality 85 (with "dpp_start"/"time_start" for the first frame after an
    // open) in one atomic write, then the count; the frame becomes the range's end that close
    // stores. Throws when the frame cannot be encoded or written; nothing of it is stored then.
    void record_frame(const cv::Mat& image, std::uint32_t dpp);

    // The stored bytes of the first frame at or after the DPP; nothing when the writer is closed
    // or no frame follows.
    std::optional<std::string> read_current_frame(std::uint32_t dpp) const;

private:
    struct state;
    std::unique_ptr<state> state_;
};

// A folder kept from every other opener of its store: while the hold (or a copy of it) lives, the
// data service answers as for a folder it cannot open, and the viewer, edits, deletion and the
// index leave the folder alone, so that its holder may copy the folder as one consistent database.
// Must be gone before its store.
class session_hold {
public:
    // release runs when the last copy goes.
    session_hold(std::string path, std::shared_ptr<void> release)
        : path_(std::move(path)), release_(std::move(release)) {}

    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::shared_ptr<void> release_;
};

// One recorded session opened read-only, made by the store; the session counts as in use while the
// reader lives. Its metadata and cursors may be used from any thread, one cursor per thread; the
// current cursor, the viewer's position, belongs to the owner's thread.
class session_reader {
public:
    // By the store: the hold on the folder and the engine's handle open on it. Reads the range,
    // so that a damaged one fails the open.
    session_reader(session_hold hold, std::shared_ptr<void> handle);

    const std::string& path() const { return hold_.path(); }
    // The stored range, read at the open; missing_dpp when the key is missing.
    std::uint32_t dpp_start() const { return dpp_start_; }
    std::uint32_t dpp_end() const { return dpp_end_; }

    // Every failure to read names the folder ("Session folder <path> cannot be read: ...").
    session_info info() const;
    // Every key looked at, those after the frames too.
    key_counts count_keys() const;

    // A new cursor over the frames up to the DPP `last`, standing on none until it seeks. The
    // caller owns it and destroys it before the reader.
    frame_cursor frames(std::uint32_t last = missing_dpp) const;
    // The viewer's position, on no frame until it seeks.
    frame_cursor& current() { return current_; }
    const frame_cursor& current() const { return current_; }

private:
    session_hold hold_;            // first: the folder is given back once the handle has closed
    std::shared_ptr<void> handle_; // the engine's
    std::uint32_t dpp_start_;
    std::uint32_t dpp_end_;
    frame_cursor current_; // last: the engine wants its cursors gone before the handle
};

// Every session under one database root: the index of their summaries, the session being
// recorded, the read handles the data service keeps open, and who uses which folder. The engine
// lets one handle at a time open a folder, and opening one writes to it; so every opener of this
// process goes through the store, which refuses a folder in use rather than fail on its lock.
// Thread safety: any thread may call any member at any time.
class session_store {
public:
    // Read handles unused for this long are closed; a session read more recently is in use.
    static constexpr int idle_seconds = 5;

    explicit session_store(std::string root = {});
    // Whatever the store handed out (readers, holds) must be gone by then.
    ~session_store();

    // The folder that refresh_session_index scans; setting it does not scan.
    void set_root(const std::string& root);
    // Rebuilds the index from the subfolders of the root in the order the platform lists them,
    // hidden ones skipped. A folder that cannot be read is reported to the sink and left out; one
    // in use keeps its entry, or is reported when it had none. A root not listed gives none. A
    // session left unclosed by its recorder is repaired (see session_writer), with a row to
    // report_repair, or to report_error without one.
    void refresh_session_index(const session_error_sink& report_error,
                               const session_error_sink& report_repair = {});
    // A copy of the index.
    session_index_entries entries() const;

    // The session being recorded: the write thread records into it, the data service reads its
    // frames and the telemetry whether it is open. Owned by the store; closed at start.
    session_writer& current_session();

    // The stored bytes of the frame at or after the DPP in the first indexed session with exactly
    // this code whose range holds the DPP (sessions without frames never match); nothing when none
    // matches or no frame follows. The folder's handle stays open for the next request (reopening
    // costs milliseconds and writes to the folder). Throws session_refused when the folder is in
    // use, runtime_error when it cannot be opened.
    std::optional<std::string> read_indexed_frame(const std::wstring& code, std::uint32_t dpp);
    // Closes the read handles idle for idle_seconds; the data service calls it every second.
    void close_idle_handles();

    // Why the folder is in use: recorded now, open in a viewer, edited, deleted or held, or read
    // by the data service now or within idle_seconds. Nothing when it is not.
    std::optional<std::string> in_use(const std::string& path) const;

    // Opens the folder for viewing; an idle read handle of the data service gives way (a read
    // under way ends first). The caller owns the reader and destroys it before the store. Throws
    // session_refused when the folder is otherwise in use, runtime_error naming the folder when it
    // cannot be opened or its range is no number. A session left unclosed by its recorder is
    // repaired first, with a row to report_repair.
    std::unique_ptr<session_reader> open_reader(const std::string& path,
                                                const session_error_sink& report_repair = {});
    // Opens the folder for writing, as open_reader makes way, gives the writer to the edit and
    // closes it. Throws session_refused when the folder is in use or holds no session database
    // (a writer would create one), and what the engine or the edit throws.
    void edit_session(const std::string& path, const std::function<void(session_writer&)>& edit);
    // Removes the folder with everything in it and its index entry; a symbolic link is removed,
    // never followed. Returns what could not be removed (empty on success). Throws
    // session_refused while the folder is in use.
    std::vector<std::string> delete_session(const std::string& path);
    // Hands the folder out: the caller owns the hold. Throws session_refused while the folder is
    // in use or when it holds no session database.
    session_hold hold(const std::string& path);

private:
    struct state;
    std::unique_ptr<state> state_;
};
