#pragma once

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

// What the recorder does with each odometer count: a decreasing count closes the session, the
// next count opens a new one, and the newest camera frame, if it is new, is stored under the
// count. Runs on the write thread only; posts its rows and status to the owner.
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
                   frame_snapshot snapshot, local_clock clock = local_time_now,
                   std::function<void()> before_new_session = {});

    // Throws only what the frame snapshot throws beyond std::exception.
    void handle_dpp(std::uint32_t value, int kind);

    // The status goes out at most every status_interval: a count within it after the last one
    // posted is held, and a newer count replaces it. The write thread posts the held one once the
    // interval is over, so that the status shows the last count when the counts stop.
    static constexpr std::chrono::milliseconds status_interval{100};
    void post_held_status();
    bool holds_status() const { return held_status_.has_value(); }

private:
    void record(std::uint32_t value);
    void give_up_session();
    void close_on_reset(std::uint32_t value);
    void record_newest_frame(std::uint32_t value);
    void post_status(const record_status& status);

    wxEvtHandler* owner_;
    limited_log log_;
    session_writer& session_;
    std::string write_path_;
    frame_snapshot snapshot_;
    local_clock clock_;
    std::function<void()> before_new_session_;
    std::uint32_t last_dpp_ = 0;
    std::uint64_t last_frame_timestamp_ = 0;
    shared_frame frame_; // the newest frame, held until the next one comes
    std::string session_path_;
    std::chrono::steady_clock::time_point resume_at_{};
    bool disk_failed_ = false;
    std::optional<record_status> held_status_;
    std::chrono::steady_clock::time_point status_posted_{};
};
