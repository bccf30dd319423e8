#pragma once

// Internal to the session layer: what bounds the loss of a crash or a power cut while the engine
// writes no log (unlogged_disk).

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>

#include <leveldb/db.h>

#include "recording/session_engine.h"

// Owns a thread ("table flush") that has the engine write its write buffer into a table (synced,
// as the engine does with every table) once the buffer has held a value for a second without the
// engine doing so by itself; at a saturated link the buffer fills, and is written, more often than
// that. The handle and the disk must outlive it. written() belongs to the thread that writes.
class table_flusher {
public:
    static constexpr std::chrono::seconds interval{1};

    table_flusher(leveldb::DB& handle, const unlogged_disk& disk);
    ~table_flusher();
    table_flusher(const table_flusher&) = delete;
    table_flusher& operator=(const table_flusher&) = delete;

    // After each write that returned: the value lies in the write buffer counted now or in an
    // earlier one, so counting after the write never misses the buffer that holds it.
    void written();

private:
    void run();
    // Waits for a buffer to age; the buffer's count when it has, nothing when stopped.
    std::optional<std::uint64_t> next_aged(std::unique_lock<std::mutex>& lock);

    leveldb::DB& handle_;
    const unlogged_disk& disk_;
    std::mutex lock_;
    std::condition_variable wake_;
    std::optional<std::uint64_t> holding_; // the buffer with values not yet in a table
    std::chrono::steady_clock::time_point holding_since_;
    bool stopping_ = false;
    std::thread thread_;
};

// Has the engine write what its write buffer holds into a table and waits until it has; a write
// buffer that holds nothing gives no table.
void flush_write_buffer(leveldb::DB& handle);
