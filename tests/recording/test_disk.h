#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include <leveldb/env.h>

#include "recording/session_engine.h"

// A disk that can be made full (a write then stores some of its bytes and fails, as the kernel
// does when the space runs out in the middle of it), with counts of the records the engine put in
// its log and of the tables it synchronised.
class test_disk : public session_disk {
public:
    // Writes of at least min_bytes fail from now on.
    void fill(std::size_t min_bytes = 0) { full_from_ = min_bytes; }
    void free_space() { full_from_.reset(); }
    int log_writes() const { return log_writes_; }
    int table_syncs() const { return table_syncs_; }

    leveldb::Status NewWritableFile(const std::string& name, leveldb::WritableFile** out) override {
        leveldb::WritableFile* target = nullptr;
        const leveldb::Status status = session_disk::NewWritableFile(name, &target);
        const std::filesystem::path type = std::filesystem::path(name).extension();
        *out = status.ok() ? new file(*this, target, type == ".log", type == ".ldb") : nullptr;
        return status;
    }

private:
    class file : public leveldb::WritableFile {
    public:
        file(test_disk& disk, leveldb::WritableFile* target, bool log, bool table)
            : disk_(disk), target_(target), log_(log), table_(table) {}
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
            const leveldb::Status status = target_->Sync();
            disk_.table_syncs_ += table_ && status.ok();
            return status;
        }

    private:
        test_disk& disk_;
        std::unique_ptr<leveldb::WritableFile> target_;
        bool log_;
        bool table_;
    };

    std::optional<std::size_t> full_from_;
    std::atomic<int> log_writes_ = 0;
    std::atomic<int> table_syncs_ = 0;
};
