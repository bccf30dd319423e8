#include "archive/archive_disk.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/file.h>
#include <unistd.h>

#include "recording/session_store.h"

namespace {
namespace fs = std::filesystem;

std::runtime_error failure(const std::string& what, const std::string& path) {
    return std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

void write_all(int descriptor, const std::string& bytes, const std::string& path) {
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t written = write(descriptor, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno != EINTR)
            throw failure("Cannot write", path);
        done += static_cast<std::size_t>(std::max<ssize_t>(written, 0));
    }
}

void sync_folder(const std::string& path) {
    const int folder = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0 || fsync(folder) != 0) {
        const std::runtime_error error = failure("Cannot synchronise", path);
        if (folder >= 0)
            close(folder);
        throw error;
    }
    close(folder);
}

// Table files never change once written, so a link is a copy that costs nothing; a volume that
// cannot link gets a copy.
void place(const fs::path& from, const fs::path& to, snapshot_part part) {
    std::error_code error;
    if (part == snapshot_part::link) {
        fs::create_hard_link(from, to, error);
        if (!error)
            return;
    }
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}
} // namespace

std::vector<session_folder> scan_sessions(const std::string& root) {
    std::vector<session_folder> folders;
    std::error_code error;
    for (fs::directory_iterator entry(root, error), end; !error && entry != end;
         entry.increment(error)) {
        std::string name = entry->path().filename().string();
        std::error_code unreadable;
        if (name.empty() || name.front() == '.' || !entry->is_directory(unreadable) ||
            !fs::is_regular_file(entry->path() / "CURRENT", unreadable))
            continue;
        folders.push_back({std::move(name), entry->path().string()});
    }
    if (error)
        throw std::runtime_error("Cannot list " + root + ": " + error.message());
    // Names are unique within the root, so the name alone orders them.
    std::sort(folders.begin(), folders.end(),
              [](const session_folder& a, const session_folder& b) { return a.name < b.name; });
    return folders;
}

std::vector<folder_file> folder_files(const std::string& path) {
    std::vector<folder_file> files;
    std::error_code error;
    for (fs::directory_iterator entry(path, error), end; !error && entry != end;
         entry.increment(error)) {
        std::error_code unreadable;
        if (entry->is_regular_file(unreadable))
            files.push_back({entry->path().filename().string(), entry->file_size(unreadable)});
    }
    if (error)
        throw std::runtime_error("Cannot list " + path + ": " + error.message());
    return files;
}

bool archived_unchanged(const archive_records& records, const session_folder& folder,
                        const std::optional<std::string>& destination) {
    const auto record = records.find(folder.name);
    if (record == records.end() || (destination && record->second.destination != *destination))
        return false;
    try {
        return record->second.fingerprint == fingerprint_of(folder_files(folder.path));
    } catch (const std::runtime_error&) {
        return false;
    }
}

std::string archive_folder(const std::string& root) {
    return (fs::path(root) / ".archive").string();
}

std::string staging_folder(const std::string& root, const std::string& name) {
    return (fs::path(archive_folder(root)) / "staging" / name).string();
}

archive_records load_records(const std::string& root) {
    const std::string path = archive_folder(root) + "/state.json";
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return {};
    const std::string text{std::istreambuf_iterator<char>(file), {}};
    try {
        return parse_records(text);
    } catch (const std::runtime_error& e) {
        throw std::runtime_error("The archive's state file " + path + " is damaged (" + e.what() +
                                 ").");
    }
}

void save_records(const std::string& root, const archive_records& records) {
    const std::string folder = archive_folder(root);
    fs::create_directories(folder);
    const std::string path = folder + "/state.json", temporary = path + ".new";
    const int file = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (file < 0)
        throw failure("Cannot create", temporary);
    try {
        write_all(file, records_text(records), temporary);
        if (fsync(file) != 0)
            throw failure("Cannot synchronise", temporary);
    } catch (...) {
        close(file);
        throw;
    }
    close(file);
    if (std::rename(temporary.c_str(), path.c_str()) != 0)
        throw failure("Cannot replace", path);
    sync_folder(folder);
}

file_lock::file_lock(file_lock&& other) noexcept : descriptor_(other.descriptor_) {
    other.descriptor_ = -1;
}

file_lock& file_lock::operator=(file_lock&& other) noexcept {
    std::swap(descriptor_, other.descriptor_);
    return *this;
}

file_lock::~file_lock() {
    if (descriptor_ >= 0)
        close(descriptor_);
}

file_lock lock_root(const std::string& root, bool wait) {
    const std::string folder = archive_folder(root), path = folder + "/lock";
    std::error_code ignored;
    fs::create_directories(folder, ignored);
    const int descriptor = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (descriptor < 0)
        throw failure("Cannot open", path);
    file_lock lock(descriptor);
    int result;
    while ((result = flock(descriptor, LOCK_EX | (wait ? 0 : LOCK_NB))) != 0 && errno == EINTR) {
    }
    if (result == 0)
        return lock;
    if (errno != EWOULDBLOCK)
        throw failure("Cannot lock", path);
    return {};
}

bool root_locked(const std::string& root) {
    const int descriptor = open((archive_folder(root) + "/lock").c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return false;
    const file_lock probe(descriptor);
    return flock(descriptor, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

file_lock lock_session(const std::string& path) {
    const std::string file = (fs::path(path) / "LOCK").string();
    const int descriptor = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (descriptor < 0)
        throw failure("Cannot open", file);
    file_lock lock(descriptor);
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    if (fcntl(descriptor, F_OFD_SETLK, &whole) == 0)
        return lock;
    if (errno != EAGAIN && errno != EACCES)
        throw failure("Cannot lock", file);
    return {};
}

// The engine turns a session's log into a table whenever it opens the folder, and the next reader
// (the list, the data service) would open it soon after the copy: the folder would look changed
// and be copied again. Opened once here before the copy, it stays as copied.
void settle(session_store& store, const session_folder& folder,
            const std::function<void(const std::string&)>& report_repair) {
    try {
        store.open_reader(folder.path, report_repair);
    } catch (const std::runtime_error&) {
        // A folder gone or in use is refused by the hold that follows; a damaged one is copied
        // as it is.
    }
}

snapshot take_snapshot(session_store& store, const session_folder& folder,
                       const std::string& staging,
                       const std::function<void(const std::string&)>& report_repair) {
    settle(store, folder, report_repair);
    const session_hold hold = store.hold(folder.path);
    const file_lock lock = lock_session(folder.path);
    if (!lock)
        throw session_refused("Session folder " + folder.path +
                              " is in use: another program has it open.");
    fs::remove_all(staging);
    fs::create_directories(staging);
    const std::vector<folder_file> files = folder_files(folder.path);
    snapshot taken{fingerprint_of(files), 0};
    for (const folder_file& file : files) {
        const snapshot_part part = snapshot_part_of(file.name);
        if (part == snapshot_part::leave)
            continue;
        place(fs::path(folder.path) / file.name, fs::path(staging) / file.name, part);
        taken.bytes += file.size;
    }
    return taken;
}
