#include "recording/session_db.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <mutex>
#include <system_error>

#include "recording/session_engine.h"
#include "recording/session_format.h"

std::shared_mutex session_index_lock;
std::string database_root;
session_index_entries session_index;

namespace {
namespace fs = std::filesystem;

bool is_candidate_folder(const fs::directory_entry& entry) {
    std::error_code error;
    const std::string name = entry.path().filename().string();
    return !name.empty() && name.front() != '.' && entry.is_directory(error);
}

// Opens one folder as a session database; its failure is reported and leaves it out.
void add_entry(session_index_entries& entries, const std::string& path,
               const session_error_sink& report_error) {
    try {
        const session_reader reader(path);
        entries.push_back({reader.info(), path});
    } catch (const std::exception& e) {
        report_error(e.what());
    }
}

bool matches(const session_index_entry& entry, const std::wstring& code, std::uint32_t dpp) {
    const session_info& info = entry.info;
    return info.has_frames && info.session_code == code && info.dpp_start <= dpp &&
           dpp <= info.dpp_end;
}

const session_index_entry* find_entry(const std::wstring& code, std::uint32_t dpp) {
    const auto entry = std::find_if(session_index.begin(), session_index.end(),
                                    [&](const auto& e) { return matches(e, code, dpp); });
    return entry == session_index.end() ? nullptr : &*entry;
}

// Read-only handles of indexed sessions, by folder. A handle in use by a reader is shared with
// it, so closing the cache never pulls a handle from under a read.
struct open_session {
    std::shared_ptr<leveldb::DB> handle;
    std::chrono::steady_clock::time_point last_used;
};

struct session_handle_cache {
    std::mutex lock;
    std::map<std::string, open_session> open;
};

session_handle_cache& handle_cache() {
    static session_handle_cache cache;
    return cache;
}

std::shared_ptr<leveldb::DB> cached_handle(const std::string& path) {
    session_handle_cache& cache = handle_cache();
    std::lock_guard<std::mutex> hold(cache.lock);
    open_session& entry = cache.open[path];
    if (!entry.handle)
        entry.handle = open_existing_database(path);
    entry.last_used = std::chrono::steady_clock::now();
    return entry.handle;
}
} // namespace

session_index_entries scan_database_root(const std::string& root,
                                         const session_error_sink& report_error) {
    session_index_entries entries;
    std::error_code error;
    fs::directory_iterator folder(fs::path(root), error);
    for (; !error && folder != fs::directory_iterator(); folder.increment(error)) {
        if (is_candidate_folder(*folder))
            add_entry(entries, folder->path().string(), report_error);
    }
    return entries;
}

void refresh_session_index(const session_error_sink& report_error) {
    close_session_handles();
    session_index.clear();
    session_index = scan_database_root(database_root, report_error);
}

void read_indexed_frame(const std::wstring& code, std::uint32_t dpp, cv::Mat& image) {
    const std::optional<std::string> bytes = indexed_frame_bytes(code, dpp);
    image = bytes ? decode_frame(*bytes) : cv::Mat();
    if (image.empty())
        image = not_found_image(code, dpp);
}

void set_database_root(const std::string& root, const session_error_sink& report_error) {
    std::unique_lock lock(session_index_lock);
    database_root = root;
    refresh_session_index(report_error);
}

std::optional<std::string> indexed_frame_bytes(const std::wstring& code, std::uint32_t dpp) {
    const session_index_entry* entry = find_entry(code, dpp);
    if (!entry)
        return std::nullopt;
    const std::shared_ptr<leveldb::DB> handle = cached_handle(entry->path);
    return frame_at_or_after(*handle, dpp);
}

void close_session_handles() {
    session_handle_cache& cache = handle_cache();
    std::lock_guard<std::mutex> hold(cache.lock);
    cache.open.clear();
}

void close_idle_session_handles(std::chrono::steady_clock::duration idle) {
    const auto limit = std::chrono::steady_clock::now() - idle;
    session_handle_cache& cache = handle_cache();
    std::lock_guard<std::mutex> hold(cache.lock);
    for (auto it = cache.open.begin(); it != cache.open.end();) {
        const bool unused = it->second.handle.use_count() == 1 && it->second.last_used < limit;
        it = unused ? cache.open.erase(it) : std::next(it);
    }
}
