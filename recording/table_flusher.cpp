#include "recording/table_flusher.h"

#include "base/thread_name.h"

table_flusher::table_flusher(leveldb::DB& handle, const unlogged_disk& disk)
    : handle_(handle), disk_(disk), thread_([this] { run(); }) {}

table_flusher::~table_flusher() {
    {
        const std::lock_guard lock(lock_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void table_flusher::written() {
    const std::uint64_t buffer = disk_.write_buffers();
    const std::lock_guard lock(lock_);
    if (holding_ == buffer)
        return;
    const bool was_idle = !holding_;
    holding_ = buffer;
    holding_since_ = std::chrono::steady_clock::now();
    if (was_idle)
        wake_.notify_one();
}

// A buffer that the engine replaced while the thread waited is already on its way into a table;
// the one that replaced it is waited for from its own first value.
std::optional<std::uint64_t> table_flusher::next_aged(std::unique_lock<std::mutex>& lock) {
    for (;;) {
        if (stopping_)
            return std::nullopt;
        if (!holding_) {
            wake_.wait(lock);
            continue;
        }
        const auto due = holding_since_ + interval;
        if (std::chrono::steady_clock::now() < due) {
            wake_.wait_until(lock, due);
            continue;
        }
        const std::uint64_t aged = *holding_;
        holding_.reset();
        return aged;
    }
}

// A failed flush is not reported here: the engine refuses every later write with the same error,
// and the writer reports that.
void table_flusher::run() {
    name_lent_thread("table flush");
    std::unique_lock lock(lock_);
    while (const std::optional<std::uint64_t> aged = next_aged(lock)) {
        lock.unlock();
        if (disk_.write_buffers() == *aged)
            flush_write_buffer(handle_);
        lock.lock();
    }
}

// The engine's only public way to flush: compacting a key range writes the write buffer first.
// The range lies above every key a session holds, so nothing else is compacted.
void flush_write_buffer(leveldb::DB& handle) {
    const leveldb::Slice above_all("\xff", 1);
    handle.CompactRange(&above_all, &above_all);
}
