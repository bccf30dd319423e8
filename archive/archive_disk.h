#pragma once

// Internal to the archive: its files under the root, the scan of the session folders, the locks
// and the snapshot. Failures throw std::runtime_error with a text that names the file.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "archive/archive_rules.h"

class session_store;

// The session folders under the root, oldest first: by name (they are named after their opening
// time), then by modification time. Hidden folders and folders without a database are left out.
struct session_folder {
    std::string name;
    std::string path;
};
std::vector<session_folder> scan_sessions(const std::string& root);

// The folder's files that are no folders themselves, with their sizes.
std::vector<folder_file> folder_files(const std::string& path);

// The session is in the records with the fingerprint its folder has now and, when one is given,
// went to that destination; false when the folder cannot be listed.
bool archived_unchanged(const archive_records& records, const session_folder& folder,
                        const std::optional<std::string>& destination = std::nullopt);

// "<root>/.archive" and the paths in it.
std::string archive_folder(const std::string& root);
std::string staging_folder(const std::string& root, const std::string& name);

// The archived sessions; none when the file is missing. Throws when it is damaged.
archive_records load_records(const std::string& root);
// Written whole or not at all, and kept through a power cut: temporary file, fsync, rename,
// fsync of the folder.
void save_records(const std::string& root, const archive_records& records);

// An advisory lock held while the object lives; moved, never copied.
class file_lock {
public:
    file_lock() = default;
    explicit file_lock(int descriptor) : descriptor_(descriptor) {}
    file_lock(file_lock&& other) noexcept;
    file_lock& operator=(file_lock&& other) noexcept;
    ~file_lock();
    explicit operator bool() const { return descriptor_ >= 0; }
    int descriptor() const { return descriptor_; }

private:
    int descriptor_ = -1;
};

// The root's archive lock (flock on ".archive/lock"); empty when another archiver has it and
// wait is false.
file_lock lock_root(const std::string& root, bool wait);
// True when some archiver holds the root's archive lock now.
bool root_locked(const std::string& root);

// The session's database lock, the one the engine takes when it opens the folder, as a lock of
// its own open file (so that closing another descriptor of it in this process keeps it, and this
// process's engine handles conflict with it too). Empty when any handle, here or in another
// program, has the folder open.
file_lock lock_session(const std::string& path);

// The snapshot of a held session in its staging folder: what was linked or copied.
struct snapshot {
    folder_fingerprint fingerprint;
    std::uint64_t bytes = 0;
};
// Under the store's hold and the database lock: throws session_refused when the session is in use
// here or elsewhere, or no longer holds a database; std::runtime_error when a file cannot be
// linked or copied. The session is opened once first, so that later readers leave the copied
// files as they are; a session its recorder never closed is repaired then, with a row to
// report_repair.
snapshot take_snapshot(session_store& store, const session_folder& folder,
                       const std::string& staging,
                       const std::function<void(const std::string&)>& report_repair);
