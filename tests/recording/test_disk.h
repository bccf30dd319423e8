#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <leveldb/env.h>

#include "recording/session_engine.h"

// A disk that can be made full (a write then stores some of its bytes and fails, as the kernel
// does when the space runs out in the middle of it), with a clock the test sets and a count of the
// synchronisations of the engine's log.
class test_disk : public session_disk {
public:
    // Writes of at least min_bytes fail from now on.
    void fill(std::size_t min_bytes = 0) { full_from_ = min_bytes; }
    void free_space() { full_from_.reset(); }
    int log_syncs() const { return log_syncs_; }
    int log_writes() const { return log_writes_; }
    void advance(std::uint64_t micros) { now_ += micros; }

    uint64_t NowMicros() override { return now_; }
    leveldb::Status NewWritableFile(const std::string& name, leveldb::WritableFile** out) override {
        leveldb::WritableFile* target = nullptr;
        const leveldb::Status status = session_disk::NewWritableFile(name, &target);
        const bool log = name.size() > 4 && name.compare(name.size() - 4, 4, ".log") == 0;
        *out = status.ok() ? new file(*this, target, log) : nullptr;
        return status;
    }

private:
    class file : public leveldb::WritableFile {
    public:
        file(test_disk& disk, leveldb::WritableFile* target, bool log)
            : disk_(disk), target_(target), log_(log) {}
        leveldb::Status Append(const leveldb::Slice& data) override {
            if (!disk_.full_from_ || data.size() < *disk_.full_from_)
                return target_->Append(data);
            target_->Append(leveldb::Slice(data.data(), data.size() / 2));
            target_->Flush();
            return leveldb::Status::IOError("No space left on device");
        }
        leveldb::Status Close() override { return target_->Close(); }
        // The engine flushes its log once per record written.
        leveldb::Status Flush() override {
            disk_.log_writes_ += log_;
            return target_->Flush();
        }
        leveldb::Status Sync() override {
            disk_.log_syncs_ += log_;
            return target_->Sync();
        }

    private:
        test_disk& disk_;
        std::unique_ptr<leveldb::WritableFile> target_;
        bool log_;
    };

    std::optional<std::size_t> full_from_;
    int log_syncs_ = 0;
    int log_writes_ = 0;
    std::uint64_t now_ = 1000000000;
};
