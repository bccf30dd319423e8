#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include <wx/event.h>
#include <wx/string.h>

#include "archive/archiver.h"
#include "log/repeat_limiter.h"

class session_store;
class wxThread;

// archive_report: what the archive and retention did, posted to the owner as it happens.
wxDECLARE_EVENT(EVT_THREAD_ARCHIVE, wxThreadEvent);

// One report of the engine as a value; the window makes the list's cells and the log's rows.
struct archive_report {
    enum class kind { state, archived, failed, deleted, disk_full };
    kind what = kind::state;
    std::string session;                          // state, archived, deleted: the folder's name
    archive_state state = archive_state::waiting; // state
    int percent = 0;                              // state, while copying
    std::uint64_t bytes = 0;                      // archived: the session's; disk_full: free
    std::uint64_t wanted = 0;                     // disk_full: the free bytes the goal asks for
    double mb_per_second = 0;                     // archived
    bool archived = false;                        // deleted: it was on the remote
    std::string text;                             // failed: rclone's or the disk's own words
};

// The log row of a report: an information row of each archived session (size, MB/s) and of each
// archived session retention deleted; an error row of a failure (rclone's own words), of an
// unarchived session deleted (loop recording) and of a full disk. A state has none (text empty):
// only the list shows it.
struct archive_row {
    bool error = false;
    wxString text;
};
archive_row archive_report_row(const archive_report& report);

// What the archive and retention take from the settings, read on the GUI thread.
struct archive_settings {
    archive_options archive; // its remote empty: no archiver
    retention_options retention;
};

// The archive and retention in the program. The archiver copies on a thread of its own while a
// remote is set; retention runs a pass on another thread every retention_interval, and on the
// write thread before a session opens. Nothing here holds a lock across an rclone run, so the
// write thread never waits for the archive. Reports go to the owner as EVT_THREAD_ARCHIVE.
// configure() on the GUI thread; before_new_session() on any thread. The owner and the store
// must outlive the runner, and the runner every write thread that calls it.
class archive_runner {
public:
    archive_runner(wxEvtHandler* owner, session_store& sessions,
                   std::chrono::milliseconds retention_interval = std::chrono::seconds(10));
    ~archive_runner();
    archive_runner(const archive_runner&) = delete;
    archive_runner& operator=(const archive_runner&) = delete;

    // Stops the archiver (a copy under way is killed and made again later) and goes on with these
    // settings; the first retention pass and archive pass follow at once.
    void configure(const archive_settings& settings);
    // One retention pass, unless the other thread is making one now, which serves as well; then
    // the archiver looks at the root again, the session before having closed.
    void before_new_session();
    // A session closed: the archiver looks at the root now rather than at its next rescan.
    void wake();

private:
    class posted_events;
    void stop_archiver();
    void run_retention();
    void retain();

    wxEvtHandler* const owner_;
    session_store& sessions_;
    const std::chrono::milliseconds retention_interval_;
    std::unique_ptr<posted_events> events_;
    // Retention: one pass at a time, its options with it.
    std::mutex pass_lock_;
    std::unique_ptr<retention> retention_;
    retention_options retention_options_;
    repeat_limiter limiter_; // of failed passes, under pass_lock_
    // Swapped under archiver_lock_, which nothing holds longer than that or a wake.
    std::mutex archiver_lock_;
    std::unique_ptr<archiver> archiver_;
    std::unique_ptr<wxThread> archiver_thread_;
    // The retention thread's timer and stop.
    std::mutex timer_lock_;
    std::condition_variable timer_;
    bool stopping_ = false;
    bool pass_due_ = false; // configured since the last pass
    std::unique_ptr<wxThread> retention_thread_;
};
