#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <opencv2/core/mat.hpp>
#include <wx/event.h>

#include "log/thread_events.h"
#include "recording/session_store.h"

// What recording takes from the settings, as their narrow texts: read on the GUI thread, handed to
// the write thread as values.
struct recording_settings {
    std::string dpp_port; // "COM1", a device path or a device name (serial_device_path)
    std::string server_address;
    std::string server_port;
    std::string write_path;
    std::string side;
    // Called on the write thread before each new session folder is made (the recorder's retention
    // makes room there); must not wait for anything slow. Empty: nothing.
    std::function<void()> before_new_session = {};
};

// The newest camera frame as the capture side shares it: never written while anybody holds it.
using shared_frame = std::shared_ptr<const cv::Mat>;
// Returns the newest camera frame's timestamp and hands the frame over, unless the timestamp
// equals `known`: the frame is then left as it is, as the recorder asks on every count, far more
// often than frames arrive.
using frame_snapshot = std::function<std::uint64_t(shared_frame& frame, std::uint64_t known)>;
// The local wall-clock time that names a new session folder.
using local_clock = std::function<std::tm()>;

std::tm local_time_now();

// "%Y.%m.%d %H.%M.%S" of the local time, e.g. "2021.03.04 12.05.33".
std::string session_folder_name(const std::tm& local);

// The folder for a new session under the root: the time's name, or, when a folder of that name
// exists already (two sessions opened within one second), the first free "<name> (2)",
// "<name> (3)" ... beside it, so that a new session never writes into an earlier one.
std::string free_session_path(const std::string& root, const std::string& name);

// What a count asks of the write thread: to close the session when the count went down (a reset
// or the counter's wrap), to open one when none is open, and to store the frame that was the
// newest when the count arrived.
struct count_work {
    std::uint32_t value = 0;
    std::optional<std::uint32_t> reset_from; // the count before, when this one is lower
    shared_frame frame;                      // empty: no frame came since the last one taken
};

// The odometer thread's half of recording: takes each count as it arrives, with the camera frame
// that is the newest at that moment, so that a frame is filed under the count it belongs to even
// while the write thread is busy encoding or waiting for the disk. Counts that need nothing of the
// write thread (most of them: counts come far more often than frames) go no further. Also keeps
// the record status, at most one every status_interval: a count within it is held, and the owner
// of the loop posts the held one once the interval is over, so that the status shows the last
// count when the counts stop. Odometer thread only, except frame_done.
class count_intake {
public:
    count_intake(wxEvtHandler* owner, const session_writer& session, frame_snapshot snapshot);

    // Throws only what the frame snapshot throws.
    std::optional<count_work> take(std::uint32_t value, int kind);

    // Any thread: the write thread has stored or dropped a frame that take handed over. Until then
    // the frame's pixel buffer stays held, so only a few are handed over at a time: a disk that
    // stalls makes the recorder skip frames, as it always did, instead of holding megabytes each.
    void frame_done() { pending_frames_.fetch_sub(1, std::memory_order_relaxed); }

    static constexpr std::chrono::milliseconds status_interval{100};
    // Posts the status of the last count now, or holds it until the interval is over.
    void refresh_status();
    void post_held_status();
    bool holds_status() const { return held_status_; }

private:
    static constexpr int max_pending_frames = 3;

    wxEvtHandler* owner_;
    const session_writer& session_;
    frame_snapshot snapshot_;
    std::optional<std::uint32_t> last_dpp_;
    int last_kind_ = 0;
    std::uint64_t last_frame_timestamp_ = 0;
    std::atomic<int> pending_frames_{0};
    bool held_status_ = false;
    std::chrono::steady_clock::time_point status_posted_{};
};

// The write thread's half: a decreasing count closes the session, the next count opens a new one,
// and the frame a count took is stored under it.
//
// A failing disk (full, gone, read-only) is reported, at most once a minute for the same text, and
// closes the session, since the engine refuses every write on a handle once one has failed. After
// a pause of a second the next count opens a new session folder, so recording resumes when the
// disk takes writes again; a folder that failed before it held a frame is removed, so a disk that
// stays full does not fill the write path with empty sessions. The first frame stored after a
// failure is reported as the recording resuming.
class recording_step {
public:
    recording_step(wxEvtHandler* owner, session_writer& session, std::string write_path,
                   local_clock clock = local_time_now,
                   std::function<void()> before_new_session = {});

    void store(const count_work& work);

private:
    bool open_session();
    void give_up_session();
    void record_frame(const cv::Mat& frame, std::uint32_t value);

    wxEvtHandler* owner_;
    limited_log log_;
    session_writer& session_;
    std::string write_path_;
    local_clock clock_;
    std::function<void()> before_new_session_;
    std::string session_path_;
    std::chrono::steady_clock::time_point resume_at_{};
    bool disk_failed_ = false;
};
