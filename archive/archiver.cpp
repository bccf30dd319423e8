#include "archive/archiver.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <set>
#include <sys/statvfs.h>

#include "archive/archive_disk.h"
#include "archive/rclone_run.h"
#include "recording/session_store.h"

namespace {
namespace fs = std::filesystem;

bool still_a_session(const session_folder& folder) {
    std::error_code error;
    return fs::is_regular_file(fs::path(folder.path) / "CURRENT", error);
}

double megabytes_per_second(std::uint64_t bytes, std::chrono::steady_clock::duration taken) {
    const double seconds = std::chrono::duration<double>(taken).count();
    return seconds > 0 ? static_cast<double>(bytes) / 1e6 / seconds : 0;
}
} // namespace

volume_space archive_seams::volume_space_of(const std::string& folder) {
    struct statvfs volume {};
    if (statvfs(folder.c_str(), &volume) != 0)
        throw std::runtime_error("Cannot ask the free space of " + folder + ": " +
                                 std::error_code(errno, std::generic_category()).message());
    return {static_cast<std::uint64_t>(volume.f_bavail) * volume.f_frsize,
            static_cast<std::uint64_t>(volume.f_blocks) * volume.f_frsize};
}

// One look at the root: the sessions due, each tried once, oldest first.
struct archiver::pass {
    enum class copied { yes, skipped, failed, stopped };

    archiver& owner;
    archive_records records;

    archive_outcome run() {
        const std::string& root = owner.options_.root;
        try {
            records = load_records(root);
        } catch (const std::runtime_error& e) {
            owner.report(std::string(e.what()) + " Every session is archived again.");
        }
        std::error_code ignored;
        fs::remove_all(fs::path(archive_folder(root)) / "staging", ignored);
        const std::vector<session_folder> due = due_sessions(scan_sessions(root));
        for (const session_folder& folder : due) {
            const copied result = owner.stopping_ ? copied::stopped : copy(folder);
            if (result == copied::failed || result == copied::stopped)
                return result == copied::failed ? archive_outcome::failed
                                                : archive_outcome::stopped;
        }
        return archive_outcome::done;
    }

    std::string destination(const std::string& name) const {
        const archive_options& options = owner.options_;
        return remote_destination(options.remote, options.car, name);
    }

    // Sessions gone from the root are dropped from the state; those archived unchanged to this
    // destination are not due.
    std::vector<session_folder> due_sessions(const std::vector<session_folder>& folders) {
        std::set<std::string> present;
        std::vector<session_folder> due;
        for (const session_folder& folder : folders) {
            present.insert(folder.name);
            const bool archived = archived_unchanged(records, folder, destination(folder.name));
            owner.show(folder.name, archived ? archive_state::archived : archive_state::waiting);
            if (!archived)
                due.push_back(folder);
        }
        const std::size_t before = records.size();
        for (auto record = records.begin(); record != records.end();)
            record = present.count(record->first) ? std::next(record) : records.erase(record);
        owner.forget_all_but(present);
        if (records.size() != before)
            save_records(owner.options_.root, records);
        return due;
    }

    copied copy(const session_folder& folder) {
        const std::string staging = staging_folder(owner.options_.root, folder.name);
        snapshot taken;
        try {
            taken = take_snapshot(owner.store_, folder, staging,
                                  [this](const std::string& row) { owner.report(row); });
        } catch (const session_refused&) {
            std::error_code ignored;
            fs::remove_all(staging, ignored);
            return copied::skipped;
        } catch (const std::exception& e) {
            owner.report(e.what());
            owner.show(folder.name, archive_state::failed);
            return copied::skipped;
        }
        const auto started = std::chrono::steady_clock::now();
        const rclone_result result = upload(folder, staging);
        std::error_code ignored;
        fs::remove_all(staging, ignored);
        if (result.stopped)
            return copied::stopped;
        if (!result.ok) {
            owner.report("rclone: " + result.error);
            owner.show(folder.name, archive_state::failed);
            return copied::failed;
        }
        if (!still_a_session(folder))
            return copied::skipped;
        records[folder.name] = {taken.fingerprint, destination(folder.name)};
        save_records(owner.options_.root, records);
        owner.show(folder.name, archive_state::archived);
        owner.events_.archived(
            folder.name, taken.bytes,
            megabytes_per_second(taken.bytes, std::chrono::steady_clock::now() - started));
        return copied::yes;
    }

    rclone_result upload(const session_folder& folder, const std::string& staging) {
        const archive_options& options = owner.options_;
        const rclone_setup setup{owner.seams_.rclone, options.rclone_config,
                                 options.bandwidth_limit, options.statistics_interval};
        owner.show(folder.name, archive_state::copying, 0);
        rclone_result result = rclone_sync(
            setup, staging, destination(folder.name),
            [&](int percent) { owner.show(folder.name, archive_state::copying, percent); },
            owner.stopping_);
        if (result.ok)
            result = rclone_check(setup, staging, destination(folder.name), owner.stopping_);
        return result;
    }
};

archiver::archiver(archive_options options, session_store& store, archive_events& events,
                   archive_seams seams)
    : options_(std::move(options)), store_(store), events_(events), seams_(std::move(seams)) {}

archiver::~archiver() = default;

// The lock is held for the whole run, so that no other archiver starts between two passes.
archive_outcome archiver::run() {
    file_lock lock;
    for (bool told = false; !stopping_ && !(lock = take_lock(false)); told = true) {
        if (!told)
            events_.failed("Another archiver works on " + options_.root +
                           "; this one tries again every minute.");
        pause(options_.lock_retry, false);
    }
    for (auto back_off = options_.first_back_off; !stopping_;) {
        if (copy_due_sessions() == archive_outcome::failed) {
            pause(back_off, false);
            back_off = std::min(back_off * 2, options_.longest_back_off);
        } else {
            back_off = options_.first_back_off;
            pause(options_.rescan_interval, true);
        }
    }
    return archive_outcome::stopped;
}

archive_outcome archiver::run_once(bool wait_for_lock) {
    const file_lock lock = take_lock(wait_for_lock);
    if (!lock)
        return stopping_ ? archive_outcome::stopped : archive_outcome::locked;
    return copy_due_sessions();
}

void archiver::stop() {
    const std::lock_guard<std::mutex> guard(lock_);
    stopping_ = true;
    woken_.notify_all();
}

void archiver::wake() {
    const std::lock_guard<std::mutex> guard(lock_);
    wake_ = true;
    woken_.notify_all();
}

// A root that cannot be locked at all (no such folder, no permission) is reported like a failed
// pass and tried again after the lock's retry time.
file_lock archiver::take_lock(bool wait) {
    try {
        return lock_root(options_.root, wait);
    } catch (const std::exception& e) {
        report(e.what());
        return {};
    }
}

archive_outcome archiver::copy_due_sessions() {
    try {
        return pass{*this, {}}.run();
    } catch (const std::exception& e) {
        report(e.what());
        return archive_outcome::failed;
    }
}

bool archiver::pause(std::chrono::milliseconds time, bool wakeable) {
    std::unique_lock guard(lock_);
    woken_.wait_for(guard, time, [&] { return stopping_ || (wakeable && wake_); });
    wake_ = false;
    return !stopping_;
}

void archiver::report(const std::string& text) {
    if (limiter_.admit(text, seams_.now()))
        events_.failed(text);
}

void archiver::show(const std::string& session, archive_state state, int percent) {
    const auto shown = shown_.find(session);
    const bool same =
        shown != shown_.end() && shown->second.first == state && shown->second.second == percent;
    if (same)
        return;
    shown_[session] = {state, percent};
    events_.state_changed(session, state, percent);
}

void archiver::forget_all_but(const std::set<std::string>& present) {
    for (auto shown = shown_.begin(); shown != shown_.end();)
        shown = present.count(shown->first) ? std::next(shown) : shown_.erase(shown);
}
