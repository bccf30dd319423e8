#pragma once

// The archive and retention engine, without windows: the recorder and tresvik-db drive the same
// code. The archiver copies closed sessions, oldest first, to an rclone remote and marks each as
// archived once rclone has checked the remote copy; retention deletes sessions when write_path's
// volume runs short of free space, the archived ones first. Both decide from a scan of the root,
// so folders copied in or deleted by hand are handled, and both leave alone every session that is
// in use here (the store knows) or by another program (its database lock is taken).
//
// What lives under the root, hidden from the session index: ".archive/state.json" (the archived
// sessions, written atomically), ".archive/lock" (one archiver per root, this program and the tool
// alike) and ".archive/staging/<name>/" (the snapshot of the session being copied).

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "archive/archive_rules.h"
#include "log/repeat_limiter.h"
#include "settings/setting_values.h"

class session_store;
class file_lock;
struct session_folder;

// A session's place in the archive as the list shows it.
enum class archive_state { waiting, copying, archived, failed };

// What the engine reports, as values; the GUI turns them into rows and cells, the tool into lines.
// The archiver calls it on its own thread, retention on the thread of the pass.
class archive_events {
public:
    virtual ~archive_events() = default;
    // A session's state changed; percent counts while copying.
    virtual void state_changed(const std::string& session, archive_state state, int percent) = 0;
    // A session is on the remote and checked: its bytes and the copy's rate in MB/s (10^6 bytes).
    virtual void archived(const std::string& session, std::uint64_t bytes,
                          double mb_per_second) = 0;
    // A failure's text (rclone's own message where rclone failed); the same text at most once a
    // minute.
    virtual void failed(const std::string& text) = 0;
    // Retention deleted the session; archived tells whether it was (an unarchived one goes only
    // with loop recording).
    virtual void deleted(const std::string& session, bool archived) = 0;
    // Free space stays under the goal with nothing left that may be deleted; at most once a
    // minute while it lasts.
    virtual void disk_full(std::uint64_t free_bytes, std::uint64_t wanted_bytes) = 0;
};

// A volume's free bytes (for an unprivileged writer) and size.
struct volume_space {
    std::uint64_t free = 0;
    std::uint64_t total = 0;
};

// What the engine asks of the machine, replaceable by tests and benchmarks.
struct archive_seams {
    std::function<repeat_limiter::clock::time_point()> now = repeat_limiter::clock::now;
    // The space of the volume that holds the folder; throws std::runtime_error when it cannot be
    // asked.
    std::function<volume_space(const std::string& folder)> space = volume_space_of;
    // The rclone program: a path, or a name looked up in PATH.
    std::string rclone = "rclone";

    static volume_space volume_space_of(const std::string& folder);
};

struct archive_options {
    std::string root;            // the sessions' folder (write_path)
    std::string remote;          // rclone remote and path, "depot:fleet"
    std::string car;             // the car's folder on the remote
    std::string rclone_config;   // rclone's configuration file
    std::string bandwidth_limit; // rclone's --bwlimit; empty: none
    std::chrono::milliseconds statistics_interval{1000};
    std::chrono::milliseconds first_back_off{10'000}; // after a failure, doubling
    std::chrono::milliseconds longest_back_off{300'000};
    std::chrono::milliseconds rescan_interval{30'000}; // idle, between looks at the root
    std::chrono::milliseconds lock_retry{60'000};      // while another archiver has the root
};

// How a run of archive passes ended.
enum class archive_outcome { done, failed, locked, stopped };

// Copies sessions to the remote. run() works on the calling thread until stop(); stop() and wake()
// may be called from any thread. The store, the events and the archiver must outlive the run.
class archiver {
public:
    archiver(archive_options options, session_store& store, archive_events& events,
             archive_seams seams = {});
    ~archiver();

    // Takes the root's archive lock (when another archiver has it: reported once, tried again
    // after lock_retry), then copies what is due, looks again every rescan_interval or when woken,
    // and after a failure waits out the back-off. Returns stopped.
    archive_outcome run();
    // One pass over the root: every session due is tried once, oldest first, and the pass ends
    // at the first failure. locked when another archiver has the root (wait: until it lets go).
    archive_outcome run_once(bool wait_for_lock = false);
    // Ends run() or run_once() soon, a copy under way killed; it is copied again next time.
    void stop();
    // Looks at the root again now (a session was closed).
    void wake();

private:
    struct pass;
    file_lock take_lock(bool wait);
    archive_outcome copy_due_sessions();
    // False when stopping; wakeable: wake() ends it early.
    bool pause(std::chrono::milliseconds time, bool wakeable);
    void report(const std::string& text);
    void show(const std::string& session, archive_state state, int percent = 0);
    void forget_all_but(const std::set<std::string>& present);

    archive_options options_;
    session_store& store_;
    archive_events& events_;
    archive_seams seams_;
    repeat_limiter limiter_;
    // The state and percent last reported per session; the run's thread only.
    std::map<std::string, std::pair<archive_state, int>> shown_;
    std::mutex lock_; // guards wake_ and the waits
    std::condition_variable woken_;
    bool wake_ = false;
    std::atomic<bool> stopping_{false};
};

struct retention_options {
    std::string root;
    free_space_goal goal;
    bool loop = false;    // the oldest unarchived session goes when nothing archived is left
    bool dry_run = false; // decide, delete and report nothing (the freed space is estimated)
};

// What one retention pass did.
struct retention_result {
    struct deletion {
        std::string session;
        bool archived = false;
    };
    std::vector<deletion> deleted; // in the order they went (a dry run: would go)
    bool full = false;             // still under the goal with nothing left to delete
    volume_space space;            // after the pass
    std::uint64_t wanted = 0;      // free bytes the goal asks for
};

// Deletes sessions while the volume is short of space. One object per caller, which keeps the
// once-a-minute limit of the disk-full report; pass() on one thread at a time.
class retention {
public:
    retention(session_store& store, archive_events& events, archive_seams seams = {});
    // Throws std::runtime_error when the root cannot be listed or its space asked.
    retention_result pass(const retention_options& options);

private:
    bool remove(const session_folder& folder, bool archived);

    session_store& store_;
    archive_events& events_;
    archive_seams seams_;
    repeat_limiter limiter_;
};
