#include "recorder/archive_runner.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <wx/filename.h>

#include "base/encoding.h"
#include "log/thread_events.h"
#include "recorder/function_thread.h"

wxDEFINE_EVENT(EVT_THREAD_ARCHIVE, wxThreadEvent);

namespace {
// The archive is background work: its thread, and the rclone it starts, which inherits all of it,
// take the processor and the disk only when nothing else wants them (the idle scheduling class,
// nice 10 where that is refused, and the idle I/O class). Recording at full rate beside an upload
// at full speed loses frames to the processor otherwise. A refusal leaves the priorities as they
// were.
void yield_to_recording() {
#ifdef __linux__
    const auto thread = static_cast<id_t>(syscall(SYS_gettid));
    const sched_param idle{};
    if (sched_setscheduler(static_cast<pid_t>(thread), SCHED_IDLE, &idle) != 0)
        setpriority(PRIO_PROCESS, thread, 10);
    constexpr int io_who_thread = 1, io_class_idle = 3, io_class_shift = 13;
    syscall(SYS_ioprio_set, io_who_thread, thread, io_class_idle << io_class_shift);
#endif
}

wxString size_text(std::uint64_t bytes) {
    return wxFileName::GetHumanReadableSize(wxULongLong(bytes));
}
} // namespace

archive_row archive_report_row(const archive_report& report) {
    const wxString session = readable_text(report.session);
    switch (report.what) {
    case archive_report::kind::archived:
        return {false, wxString::Format(L"Сеанс %s в архиве: %s, %.1f МБ/с", session,
                                        size_text(report.bytes), report.mb_per_second)};
    case archive_report::kind::failed:
        return {true, L"Архив: " + readable_text(report.text)};
    case archive_report::kind::deleted:
        return report.archived
                   ? archive_row{false, wxString::Format(L"Сеанс %s удалён (есть в архиве): "
                                                         L"место на диске",
                                                         session)}
                   : archive_row{true, wxString::Format(L"Сеанс %s удалён, не попав в архив: "
                                                        L"место на диске (запись по кругу)",
                                                        session)};
    case archive_report::kind::disk_full:
        return {true, wxString::Format(L"Диск заполнен: свободно %s, нужно %s, и удалить нечего. "
                                       L"Запись идёт, пока есть место.",
                                       size_text(report.bytes), size_text(report.wanted))};
    default:
        return {};
    }
}

// The engine's reports as values queued to the owner; called on the archiver's thread, the
// retention thread and the write thread alike, which posting allows.
class archive_runner::posted_events : public archive_events {
public:
    explicit posted_events(wxEvtHandler* owner) : owner_(owner) {}

    void state_changed(const std::string& session, archive_state state, int percent) override {
        archive_report report;
        report.session = session;
        report.state = state;
        report.percent = percent;
        post(report);
    }
    void archived(const std::string& session, std::uint64_t bytes, double rate) override {
        archive_report report;
        report.what = archive_report::kind::archived;
        report.session = session;
        report.bytes = bytes;
        report.mb_per_second = rate;
        post(report);
    }
    void failed(const std::string& text) override {
        archive_report report;
        report.what = archive_report::kind::failed;
        report.text = text;
        post(report);
    }
    void deleted(const std::string& session, bool archived) override {
        archive_report report;
        report.what = archive_report::kind::deleted;
        report.session = session;
        report.archived = archived;
        post(report);
    }
    void disk_full(std::uint64_t free_bytes, std::uint64_t wanted_bytes) override {
        archive_report report;
        report.what = archive_report::kind::disk_full;
        report.bytes = free_bytes;
        report.wanted = wanted_bytes;
        post(report);
    }

private:
    void post(const archive_report& report) { post_report(owner_, EVT_THREAD_ARCHIVE, report); }

    wxEvtHandler* const owner_;
};

archive_runner::archive_runner(wxEvtHandler* owner, session_store& sessions,
                               std::chrono::milliseconds retention_interval)
    : owner_(owner), sessions_(sessions), retention_interval_(retention_interval),
      events_(std::make_unique<posted_events>(owner)),
      retention_(std::make_unique<retention>(sessions, *events_)),
      retention_thread_(std::make_unique<function_thread>([this] { run_retention(); })) {
    if (retention_thread_->Run() != wxTHREAD_NO_ERROR)
        throw std::runtime_error("Error starting the retention thread");
}

archive_runner::~archive_runner() {
    {
        const std::lock_guard<std::mutex> hold(timer_lock_);
        stopping_ = true;
    }
    timer_.notify_all();
    retention_thread_->Wait();
    stop_archiver();
}

void archive_runner::configure(const archive_settings& settings) {
    stop_archiver();
    {
        const std::lock_guard<std::mutex> hold(pass_lock_);
        retention_options_ = settings.retention;
    }
    {
        const std::lock_guard<std::mutex> hold(timer_lock_);
        pass_due_ = true;
    }
    timer_.notify_all();
    if (settings.archive.remote.empty())
        return;
    auto copier = std::make_unique<archiver>(settings.archive, sessions_, *events_);
    auto thread = std::make_unique<function_thread>([engine = copier.get()] {
        wxThread::SetNameForCurrent("archive");
        yield_to_recording();
        engine->run();
    });
    if (thread->Run() != wxTHREAD_NO_ERROR) {
        events_->failed("Error starting the archive's thread");
        return;
    }
    const std::lock_guard<std::mutex> hold(archiver_lock_);
    archiver_ = std::move(copier);
    archiver_thread_ = std::move(thread);
}

void archive_runner::before_new_session() {
    std::unique_lock<std::mutex> pass(pass_lock_, std::try_to_lock);
    if (pass.owns_lock())
        retain();
    pass = {};
    wake();
}

void archive_runner::wake() {
    const std::lock_guard<std::mutex> hold(archiver_lock_);
    if (archiver_)
        archiver_->wake();
}

// Taken out under the lock, stopped and joined outside it: a write thread that wakes the archiver
// meanwhile finds none rather than waiting for rclone to end.
void archive_runner::stop_archiver() {
    std::unique_ptr<archiver> going;
    std::unique_ptr<wxThread> thread;
    {
        const std::lock_guard<std::mutex> hold(archiver_lock_);
        going.swap(archiver_);
        thread.swap(archiver_thread_);
    }
    if (!going)
        return;
    going->stop();
    thread->Wait();
}

// A pass once configured, then one every interval, and one at once after each configure, until
// the runner goes.
void archive_runner::run_retention() {
    wxThread::SetNameForCurrent("retention");
    const auto due = [this] { return stopping_ || pass_due_; };
    std::unique_lock<std::mutex> timer(timer_lock_);
    timer_.wait(timer, due);
    while (!stopping_) {
        pass_due_ = false;
        timer.unlock();
        {
            const std::lock_guard<std::mutex> pass(pass_lock_);
            retain();
        }
        timer.lock();
        timer_.wait_for(timer, retention_interval_, due);
    }
}

// Under pass_lock_. A root that cannot be asked is a failure like the archive's, once a minute.
void archive_runner::retain() {
    if (retention_options_.root.empty())
        return;
    try {
        retention_->pass(retention_options_);
    } catch (const std::runtime_error& e) {
        if (limiter_.admit(e.what(), repeat_limiter::clock::now()))
            events_->failed(e.what());
    }
}
