#include <filesystem>

#include "base/thread_name.h"
#include "recording/session_engine.h"

namespace {
// Each scheduled piece of work is wrapped once; the engine schedules one per table flush or
// compaction, far less often than frames are written.
struct named_env : leveldb::EnvWrapper {
    named_env() : EnvWrapper(leveldb::Env::Default()) {}

    void Schedule(void (*function)(void* arg), void* arg) override {
        target()->Schedule(run_named, new work{function, arg});
    }

private:
    struct work {
        void (*function)(void* arg);
        void* arg;
    };
    static void run_named(void* scheduled) {
        const std::unique_ptr<work> next(static_cast<work*>(scheduled));
        name_lent_thread("leveldb");
        next->function(next->arg);
    }
};

// The engine keeps a log open per write buffer and closes it when the buffer's table is written.
// Flush, once per record, passes on: with nothing buffered it writes nothing, and a fault-injecting
// disk counts the engine's records by it.
class unwritten_log : public leveldb::WritableFile {
public:
    explicit unwritten_log(leveldb::WritableFile* created) : created_(created) {}

    leveldb::Status Append(const leveldb::Slice&) override { return {}; }
    leveldb::Status Close() override { return created_->Close(); }
    leveldb::Status Flush() override { return created_->Flush(); }
    leveldb::Status Sync() override { return {}; }

private:
    std::unique_ptr<leveldb::WritableFile> created_;
};
} // namespace

// The file is still created: an empty log is what the engine's own open expects to find.
leveldb::Status unlogged_disk::NewWritableFile(const std::string& name,
                                               leveldb::WritableFile** out) {
    const leveldb::Status status = target()->NewWritableFile(name, out);
    if (status.ok() && std::filesystem::path(name).extension() == ".log") {
        *out = new unwritten_log(*out);
        ++write_buffers_;
    }
    return status;
}

// Never destroyed, as the engine's own default is not: sessions may close while the process ends.
leveldb::Env* named_engine_env() {
    static named_env* const env = new named_env;
    return env;
}
