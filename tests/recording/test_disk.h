#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <leveldb/env.h>

// A disk that can be made full (a write then stores some of its bytes and fails, as the kernel
// does when the space runs out in the middle of it), with a clock the test sets and a count of the
// synchronisations of the engine's log.
class test_disk : public leveldb::EnvWrapper {
public:
    test_disk() : EnvWrapper(leveldb::Env::Default()) {}
    // Writes of at least min_bytes fail from now on.
    void fill(std::size_t min_bytes = 0) { full_from_ = min_bytes; }
    void free_space() { full_from_.reset(); }
    int log_syncs() const { return log_syncs_; }
    int log_writes() const { return log_writes_; }
    void advance(std::uint64_t micros) { now_ += micros; }

    uint64_t NowMicros() override { return now_; }
    leveldb::Status NewWritableFile(const std::string& name, leveldb::WritableFile** file) override;

private:
    class file;
    std::optional<std::size_t> full_from_;
    int log_syncs_ = 0;
    int log_writes_ = 0;
    std::uint64_t now_ = 1000000000;
};
