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

bool matches(const session_index_entry& entry, const std::wstring& code, std::uint32_t dpp) {
    const session_info& info = entry.info;
    return info.has_frames && info.session_code == code && info.dpp_start <= dpp &&
           dpp <= info.dpp_end;
}

// How the store's callers use one folder. The engine lets one handle at a time open a folder, so
// there is a read handle or a claim, never both.
struct folder_use {
    std::unique_ptr<leveldb::DB> handle;      // read by the index or the data service
    int reading = 0;                          // reads inside the handle now
    std::optional<steady::time_point> served; // the data service's last read; none: the index's
    std::optional<std::string> claim;         // why nobody else opens the folder
};
} // namespace

// Everything under the one lock; the engine's opens and closes of read handles too, so that no
// two threads open a folder at once.
struct session_store::state {
    std::optional<std::string> busy(const std::string& folder) const;
    std::optional<std::string> in_use(const std::string& folder) const;
    session_hold claim(const std::string& path, std::string why, bool strict);
    void forget_if_unused(const std::string& folder);
    std::optional<session_index_entry> indexed(const std::string& path) const;
    template <typename Read> auto read(const std::string& path, bool serving, Read body);

    mutable std::mutex lock;
    std::condition_variable read_ended;
    std::string root;
    session_index_entries entries;
    std::map<std::string, folder_use> uses;
    session_writer current;
};

// Recorded or claimed: nobody else may open it.
std::optional<std::string> session_store::state::busy(const std::string& folder) const {
    const std::string recorded = current.open_path();
    if (!recorded.empty() && folder_name(recorded) == folder)
        return "it is being recorded";
    const auto use = uses.find(folder);
    return use == uses.end() ? std::nullopt : use->second.claim;
}

std::optional<std::string> session_store::state::in_use(const std::string& folder) const {
    if (auto why = busy(folder))
        return why;
    const auto use = uses.find(folder);
    if (use == uses.end() || !use->second.served)
        return std::nullopt;
    const bool recent = *use->second.served > steady::now() - std::chrono::seconds(idle_seconds);
    if (use->second.reading > 0 || recent)
        return "the data service reads it";
    return std::nullopt;
}

// Strict: refused while the data service reads the folder or read it lately, too; otherwise its
// idle handle gives way. Either way a read under way ends first.
session_hold session_store::state::claim(const std::string& path, std::string why, bool strict) {
    const std::string folder = folder_name(path);
    std::unique_lock hold(lock);
    if (const auto refusal = strict ? in_use(folder) : busy(folder))
        throw session_refused("Session folder " + path + " is in use: " + *refusal + ".");
    folder_use& use = uses[folder];
    use.claim = std::move(why);
    read_ended.wait(hold, [&use] { return use.reading == 0; });
    use.handle.reset();
    use.served.reset();
    return session_hold(path, [this, folder] {
        const std::lock_guard<std::mutex> released(lock);
        uses[folder].claim.reset();
        forget_if_unused(folder);
    });
}

void session_store::state::forget_if_unused(const std::string& folder) {
    const auto use = uses.find(folder);
    if (use != uses.end() && !use->second.handle && !use->second.claim)
        uses.erase(use);
}

std::optional<session_index_entry> session_store::state::indexed(const std::string& path) const {
    const std::lock_guard<std::mutex> hold(lock);
    const auto entry =
        std::find_if(entries.begin(), entries.end(), [&](const auto& e) { return e.path == path; });
    return entry == entries.end() ? std::nullopt : std::optional(*entry);
}

// Reads through the folder's read handle, opened when there is none. A handle the data service
// reads through (serving) stays open for its next request; one opened for the index alone closes
// after the read.
template <typename Read>
auto session_store::state::read(const std::string& path, bool serving, Read body) {
    const std::string folder = folder_name(path);
    std::unique_lock hold(lock);
    if (const auto refusal = busy(folder))
        throw session_refused("Session folder " + path + " is in use: " + *refusal + ".");
    folder_use& use = uses[folder];
    if (!use.handle) {
        try {
            use.handle = open_session_folder(path);
        } catch (...) {
            forget_if_unused(folder);
            throw;
        }
    }
    ++use.reading;
    if (serving)
        use.served = steady::now();
    hold.unlock();
    struct end_of_read {
        state& store;
        const std::string& folder;
        folder_use& use;
        ~end_of_read() {
            const std::lock_guard<std::mutex> ended(store.lock);
            if (--use.reading == 0 && !use.served)
                use.handle.reset();
            store.forget_if_unused(folder);
            store.read_ended.notify_all();
        }
    } const end{*this, folder, use};
    return body(*use.handle);
}

session_hold::session_hold(std::string path, std::function<void()> release)
    : path_(std::move(path)), release_(std::move(release)) {}

session_hold::session_hold(session_hold&& other) noexcept
    : path_(std::move(other.path_)), release_(std::exchange(other.release_, nullptr)) {}

session_hold::~session_hold() {
    if (release_)
        release_();
}

session_store::session_store(std::string root) : state_(std::make_unique<state>()) {
    state_->root = std::move(root);
}

session_store::~session_store() = default;

void session_store::set_root(const std::string& root) {
    const std::lock_guard<std::mutex> hold(state_->lock);
    state_->root = root;
}

void session_store::refresh_session_index(const session_error_sink& report_error) {
    std::string root;
    {
        const std::lock_guard<std::mutex> hold(state_->lock);
        root = state_->root;
    }
    session_index_entries fresh;
    std::error_code error;
    fs::directory_iterator folder(fs::path(root), error);
    for (; !error && folder != fs::directory_iterator(); folder.increment(error)) {
        if (!is_candidate_folder(*folder))
            continue;
        const std::string path = folder->path().string();
        try {
            fresh.push_back(
                {state_->read(path, false,
                              [&](leveldb::DB& handle) { return read_session_info(handle, path); }),
                 path});
        } catch (const session_refused& e) {
            if (auto kept = state_->indexed(path))
                fresh.push_back(std::move(*kept));
            else
                report_error(e.what());
        } catch (const std::exception& e) {
            report_error(e.what());
        }
    }
    const std::lock_guard<std::mutex> hold(state_->lock);
    state_->entries = std::move(fresh);
}

session_index_entries session_store::entries() const {
    const std::lock_guard<std::mutex> hold(state_->lock);
    return state_->entries;
}

session_writer& session_store::current_session() {
    return state_->current;
}

const session_writer& session_store::current_session() const {
    return state_->current;
}

std::optional<std::string> session_store::read_indexed_frame(const std::wstring& code,
                                                             std::uint32_t dpp) {
    std::string path;
    {
        const std::lock_guard<std::mutex> hold(state_->lock);
        const auto& entries = state_->entries;
        const auto entry = std::find_if(entries.begin(), entries.end(),
                                        [&](const auto& e) { return matches(e, code, dpp); });
        if (entry == entries.end())
            return std::nullopt;
        path = entry->path;
    }
    return state_->read(path, true,
                        [dpp](leveldb::DB& handle) { return frame_at_or_after(handle, dpp); });
}

void session_store::close_idle_handles() {
    const auto limit = steady::now() - std::chrono::seconds(idle_seconds);
    const std::lock_guard<std::mutex> hold(state_->lock);
    auto& uses = state_->uses;
    for (auto use = uses.begin(); use != uses.end();) {
        folder_use& u = use->second;
        if (u.reading == 0 && u.served && *u.served < limit) {
            u.handle.reset();
            u.served.reset();
        }
        use = !u.handle && !u.claim ? uses.erase(use) : std::next(use);
    }
}

std::optional<std::string> session_store::in_use(const std::string& path) const {
    const std::lock_guard<std::mutex> hold(state_->lock);
    return state_->in_use(folder_name(path));
}

std::unique_ptr<session_reader> session_store::open_reader(const std::string& path) {
    session_hold hold = state_->claim(path, "it is open in the viewer", false);
    std::unique_ptr<leveldb::DB> handle = open_session_folder(path);
    return std::make_unique<session_reader>(
        std::make_unique<session_reader::state>(std::move(hold), std::move(handle)));
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
    entries.erase(
        std::remove_if(entries.begin(), entries.end(),
                       [&](const auto& e) { return folder_name(e.path) == folder_name(path); }),
        entries.end());
    return left;
}

session_hold session_store::hold(const std::string& path) {
    session_hold hold = state_->claim(path, "it is held for copying", true);
    require_database(path);
    return hold;
}
