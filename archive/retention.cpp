#include "archive/archiver.h"

#include <filesystem>
#include <set>

#include "archive/archive_disk.h"
#include "recording/session_store.h"

namespace {
namespace fs = std::filesystem;

// The sessions whose snapshot an archiver is uploading now; a staging folder that no running
// archiver owns is a leftover.
std::set<std::string> being_copied(const std::string& root) {
    std::set<std::string> names;
    if (!root_locked(root))
        return names;
    std::error_code error;
    const fs::path staging = fs::path(archive_folder(root)) / "staging";
    for (fs::directory_iterator entry(staging, error), end; !error && entry != end;
         entry.increment(error))
        names.insert(entry->path().filename().string());
    return names;
}

std::uint64_t folder_bytes(const std::string& path) {
    std::uint64_t bytes = 0;
    for (const folder_file& file : folder_files(path))
        bytes += file.size;
    return bytes;
}
} // namespace

retention::retention(session_store& store, archive_events& events, archive_seams seams)
    : store_(store), events_(events), seams_(std::move(seams)) {}

// Space is asked again after each deletion (the disk's truth); a dry run adds the folder's bytes
// instead.
retention_result retention::pass(const retention_options& options) {
    retention_result result;
    result.space = seams_.space(options.root);
    result.wanted = options.goal.wanted(result.space.total);
    if (result.space.free >= result.wanted)
        return result;
    const std::vector<session_folder> folders = scan_sessions(options.root);
    archive_records records;
    try {
        records = load_records(options.root);
    } catch (const std::runtime_error& e) {
        if (limiter_.admit(e.what(), seams_.now()))
            events_.failed(e.what());
    }
    const std::set<std::string> copying = being_copied(options.root);
    std::vector<retention_folder> flags;
    for (const session_folder& folder : folders)
        flags.push_back({archived_unchanged(records, folder),
                         store_.in_use(folder.path) || copying.count(folder.name) > 0});
    for (const std::size_t index : deletion_order(flags, options.loop)) {
        if (result.space.free >= result.wanted)
            break;
        const session_folder& folder = folders[index];
        if (options.dry_run) {
            result.space.free += folder_bytes(folder.path);
        } else if (!remove(folder, flags[index].archived)) {
            continue;
        } else {
            result.space = seams_.space(options.root);
        }
        result.deleted.push_back({folder.name, flags[index].archived});
    }
    result.full = result.space.free < result.wanted;
    if (result.full && !options.dry_run && limiter_.admit("disk full", seams_.now()))
        events_.disk_full(result.space.free, result.wanted);
    return result;
}

// Under the database lock, so that no other program opens the folder while it goes.
bool retention::remove(const session_folder& folder, bool archived) {
    const file_lock lock = lock_session(folder.path);
    if (!lock)
        return false;
    std::vector<std::string> left;
    try {
        left = store_.delete_session(folder.path);
    } catch (const session_refused&) {
        return false;
    }
    if (!left.empty()) {
        const std::string text = "Session folder " + folder.path +
                                 " was not deleted whole: " + left.front() + " is left.";
        if (limiter_.admit(text, seams_.now()))
            events_.failed(text);
        return false;
    }
    events_.deleted(folder.name, archived);
    return true;
}
