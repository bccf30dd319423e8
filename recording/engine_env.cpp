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
} // namespace

// Never destroyed, as the engine's own default is not: sessions may close while the process ends.
leveldb::Env* named_engine_env() {
    static named_env* const env = new named_env;
    return env;
}
