#pragma once

// Internal to the session layer: how it talks to leveldb. The options are part of the on-disk
// contract with other programs that open the same folders; they must not change.

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include <leveldb/db.h>
#include <leveldb/env.h>
#include <opencv2/core/mat.hpp>

#include "recording/session_store.h"

// The engine's file system; fault-injecting tests derive theirs from it.
struct session_disk : leveldb::EnvWrapper {
    session_disk() : EnvWrapper(leveldb::Env::Default()) {}
};

// The default file system, its background thread (compactions for every open session) named
// "leveldb" when it first runs. Lives as long as the process.
leveldb::Env* named_engine_env();

// The writer's file system over another: the engine's log is created but never written, so that
// each value is written to the disk once, in a table, instead of twice (log, then table). What the
// write buffer holds is therefore on no disk until the engine flushes it; table_flusher has that
// done within a second and session_writer at the close. Counts the write buffers the engine begins
// (one new log each), so that whoever asks a flush knows whether the engine has done one since.
// Thread safety: the engine calls it from any thread; write_buffers may be read from any thread.
class unlogged_disk : public leveldb::EnvWrapper {
public:
    explicit unlogged_disk(leveldb::Env* base) : EnvWrapper(base) {}

    leveldb::Status NewWritableFile(const std::string& name, leveldb::WritableFile** out) override;
    std::uint64_t write_buffers() const { return write_buffers_; }

private:
    std::atomic<std::uint64_t> write_buffers_{0};
};

// Recording and metadata edits: create the folder when missing; files through env.
leveldb::Options writer_options(unlogged_disk& env);

inline leveldb::Slice as_slice(std::string_view text) {
    return {text.data(), text.size()};
}
inline std::string_view as_view(const leveldb::Slice& bytes) {
    return {bytes.data(), bytes.size()};
}

// Throws std::runtime_error with the status text unless it is ok.
void check_status(const leveldb::Status& status);

// Names the folder, which the engine's texts do not (they name a file inside it at best), so
// that a row says which session is damaged.
std::runtime_error unreadable_session(const std::string& path, const std::string& why);

// A folder opened by a reader, and the row that says what the open repaired (empty when nothing).
struct opened_session {
    std::unique_ptr<leveldb::DB> handle;
    std::string repaired;
};

// Opens for reading, without creating anything, and only a folder that holds a database; a
// session whose recorder never closed it gets its range's end (repair_unclosed_end). Failures
// name the folder. Only for a folder that no writer of this process has open.
opened_session open_session_folder(const std::string& path);

// A recorder stores "dpp_end"/"time_end" when it closes the session. When "dpp_start" is stored
// but "dpp_end" is missing or before the newest frame, the recorder stopped without closing (a
// crash, a power cut): stores the newest frame's DPP and, as its time, last_write (the time of the
// engine's last write into the folder) or else "time_start". Returns the row saying so; empty when
// nothing was stale.
std::string repair_unclosed_end(leveldb::DB& handle, const std::string& path,
                                std::optional<std::int64_t> last_write);

// Every read: no checksum verification, fill the cache, no snapshot.
std::unique_ptr<leveldb::Iterator> new_cursor(leveldb::DB& handle);

// The value stored under exactly this key; nothing when the key is missing.
std::optional<std::string> find_value(leveldb::DB& handle, std::string_view key);

frame_cursor cursor_over(leveldb::DB& handle, std::uint32_t last = missing_dpp);

// The value of the first frame at or after the DPP; nothing when no frame follows.
std::optional<std::string> frame_at_or_after(leveldb::DB& handle, std::uint32_t dpp);

// The summary of the session in the folder open as handle.
session_info read_session_info(leveldb::DB& handle, const std::string& path);
