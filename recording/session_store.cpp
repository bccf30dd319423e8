#include "recording/session_store.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <system_error>

#include "recording/session_engine.h"
#include "recording/session_format.h"

namespace {
namespace fs = std::filesystem;
using steady = std::chrono::steady_clock;

bool is_candidate_folder(const fs::directory_entry& entry) {
    std::error_code error;
    const std::string name = entry.path().filename().string();
    return !name.empty() && name.front() != '.' && entry.is_directory(error);
}

// One name per folder, however its path is spelt ("a//b/", "a/./b").
std::string folder_name(const std::string& path) {
    fs::path name = fs::path(path).lexically_normal();
    return (name.has_filename() ? name : name.parent_path()).string();
}

// A writer would create a database in any other folder.
void require_database(const std::string& path) {
    std::error_code error;
    if (!fs::is_regular_file(fs::path(path) / "CURRENT", error))
        throw session_refused("The folder " + path + " no longer holds a session database.");
}

// A symbolic link is removed, never followed, so nothing outside the folder goes.
std::vector<std::string> remove_folder(const std::string& path) {
    std::error_code error;
    fs::remove_all(path, error);
    std::vector<std::string> left;
    if (!fs::exists(fs::symlink_status(path, error)))
        return left;
    for (auto entry = fs::recursive_directory_iterator(path, error);
         !error && entry != fs::recursive_directory_iterator(); entry.increment(error))
        left.push_back(entry->path().string());
    if (left.empty())
        left.push_back(path);
    return left;
}

// How the store's callers use one folder; kept once made, one per folder ever used. The engine
// lets one handle at a time open a folder, so there is a read handle or a claim, never both.
struct folder_use {
    std::unique_ptr<leveldb::DB> handle;      // read by the index or the data service
    int reading = 0;                          // reads inside the handle now
    std::optional<steady::time_point> served; // the data service's last read; none: the index's
    std::optional<std::string> claim;         // why nobody else opens the folder
};
} // namespace

// Everything under the one lock, the engine's opens and closes of read handles too, so that no
// two threads open a folder at once.
struct session_store::state {
    // Recorded or claimed; strict: read by the data service now or within the idle time, too.
    std::optional<std::string> refusal(const std::string& folder, bool strict) const {
        const std::string recorded = current.open_path();
        if (!recorded.empty() && folder_name(recorded) == folder)
            return "it is being recorded";
        const auto found = uses.find(folder);
        if (found == uses.end())
            return std::nullopt;
        const folder_use& use = found->second;
        const auto idle_since = steady::now() - std::chrono::seconds(idle_seconds);
        if (use.claim || !strict || !use.served || (use.reading == 0 && *use.served < idle_since))
            return use.claim;
        return "the data service reads it";
    }

    // Not strict: an idle read handle gives way. Either way a read under way ends first.
    session_hold claim(const std::string& path, std::string why, bool strict) {
        const std::string folder = folder_name(path);
        std::unique_lock guard(lock);
        if (const auto refused = refusal(folder, strict))
            throw session_refused("Session folder " + path + " is in use: " + *refused + ".");
        folder_use& use = uses[folder];
        use.claim = std::move(why);
        read_ended.wait(guard, [&use] { return use.reading == 0; });
        use.handle.reset();
        use.served.reset();
        return session_hold(path, std::shared_ptr<void>(nullptr, [this, &use](void*) {
                                const std::lock_guard<std::mutex> released(lock);
                                use.claim.reset();
                            }));
    }

    // A read inside the folder's read handle, opened when there is none, as long as the lease
    // lives. A handle the data service reads through (serving) stays open for its next request;
    // one opened for the index alone closes with its lease.
    // The row of a repair the open made goes to repaired.
    std::shared_ptr<leveldb::DB> lease(const std::string& path, bool serving,
                                       std::string* repaired = nullptr) {
        const std::string folder = folder_name(path);
        const std::lock_guard<std::mutex> guard(lock);
        if (const auto refused = refusal(folder, false))
            throw session_refused("Session folder " + path + " is in use: " + *refused + ".");
        folder_use& use = uses[folder];
        if (!use.handle) {
            opened_session opened = open_session_folder(path);
            use.handle = std::move(opened.handle);
            if (repaired)
                *repaired = std::move(opened.repaired);
        }
        ++use.reading;
        if (serving)
            use.served = steady::now();
        return std::shared_ptr<leveldb::DB>(use.handle.get(), [this, &use](leveldb::DB*) {
            const std::lock_guard<std::mutex> ended(lock);
            if (--use.reading == 0 && !use.served)
                use.handle.reset();
            read_ended.notify_all();
        });
    }

    mutable std::mutex lock;
    std::condition_variable read_ended;
    std::string root;
    session_index_entries entries;
    std::map<std::string, folder_use> uses;
    session_writer current;
};

session_store::session_store(std::string root) : state_(std::make_unique<state>()) {
    state_->root = std::move(root);
}

session_store::~session_store() = default;

void session_store::set_root(const std::string& root) {
    const std::lock_guard<std::mutex> guard(state_->lock);
    state_->root = root;
}

// The index is replaced whole at the end, so that the data service meanwhile finds the old one.
void session_store::refresh_session_index(const session_error_sink& report_error,
                                          const session_error_sink& report_repair) {
    const session_error_sink& repair_sink = report_repair ? report_repair : report_error;
    std::unique_lock guard(state_->lock);
    const std::string root = state_->root;
    const session_index_entries previous = state_->entries;
    guard.unlock();
    session_index_entries fresh;
    std::error_code error;
    fs::directory_iterator folder(fs::path(root), error);
    for (; !error && folder != fs::directory_iterator(); folder.increment(error)) {
        if (!is_candidate_folder(*folder))
            continue;
        const std::string path = folder->path().string();
        try {
            std::string repaired;
            fresh.push_back(
                {read_session_info(*state_->lease(path, false, &repaired), path), path});
            if (!repaired.empty())
                repair_sink(repaired);
        } catch (const session_refused& e) {
            const auto kept = std::find_if(previous.begin(), previous.end(),
                                           [&](const auto& entry) { return entry.path == path; });
            if (kept != previous.end())
                fresh.push_back(*kept);
            else
                report_error(e.what());
        } catch (const std::exception& e) {
            report_error(e.what());
        }
    }
    guard.lock();
    state_->entries = std::move(fresh);
}

session_index_entries session_store::entries() const {
    const std::lock_guard<std::mutex> guard(state_->lock);
    return state_->entries;
}

session_writer& session_store::current_session() {
    return state_->current;
}

std::optional<std::string> session_store::read_indexed_frame(const std::wstring& code,
                                                             std::uint32_t dpp) {
    std::unique_lock guard(state_->lock);
    const auto& entries = state_->entries;
    const auto entry = std::find_if(entries.begin(), entries.end(), [&](const auto& e) {
        return e.info.has_frames && e.info.session_code == code && e.info.dpp_start <= dpp &&
               dpp <= e.info.dpp_end;
    });
    if (entry == entries.end())
        return std::nullopt;
    const std::string path = entry->path;
    guard.unlock();
    return frame_at_or_after(*state_->lease(path, true), dpp);
}

void session_store::close_idle_handles() {
    const auto idle_since = steady::now() - std::chrono::seconds(idle_seconds);
    const std::lock_guard<std::mutex> guard(state_->lock);
    for (auto& [folder, use] : state_->uses) {
        if (use.reading == 0 && use.served && *use.served < idle_since) {
            use.handle.reset();
            use.served.reset();
        }
    }
}

std::optional<std::string> session_store::in_use(const std::string& path) const {
    const std::lock_guard<std::mutex> guard(state_->lock);
    return state_->refusal(folder_name(path), true);
}

std::unique_ptr<session_reader>
session_store::open_reader(const std::string& path, const session_error_sink& report_repair) {
    session_hold hold = state_->claim(path, "it is open in the viewer", false);
    opened_session opened = open_session_folder(path);
    auto reader = std::make_unique<session_reader>(std::move(hold), std::move(opened.handle));
    if (!opened.repaired.empty() && report_repair)
        report_repair(opened.repaired);
    return reader;
}

void session_store::edit_session(const std::string& path,
                                 const std::function<void(session_writer&)>& edit) {
    const session_hold hold = state_->claim(path, "it is being edited", false);
    require_database(path);
    session_writer writer;
    writer.open(path);
    edit(writer);
    writer.close();
}

std::vector<std::string> session_store::delete_session(const std::string& path) {
    const session_hold hold = state_->claim(path, "it is being deleted", true);
    std::vector<std::string> left = remove_folder(path);
    const std::lock_guard<std::mutex> deleted(state_->lock);
    auto& entries = state_->entries;
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&](const auto& e) { return e.path == path; }),
                  entries.end());
    return left;
}

session_hold session_store::hold(const std::string& path) {
    session_hold held = state_->claim(path, "it is held for copying", true);
    require_database(path);
    return held;
}
