#include "recording/recording_step.h"

#include <filesystem>

#include "base/encoding.h"
#include "log/thread_events.h"

namespace {
// Long enough not to churn session folders on a failing disk, short enough to lose little.
constexpr std::chrono::seconds failure_pause{1};
} // namespace

std::tm local_time_now() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

std::string session_folder_name(const std::tm& local) {
    char name[32];
    std::strftime(name, sizeof name, "%Y.%m.%d %H.%M.%S", &local);
    return name;
}

std::string free_session_path(const std::string& root, const std::string& name) {
    const std::filesystem::path folder(root);
    std::filesystem::path candidate = folder / name;
    std::error_code ignored;
    for (int copy = 2; std::filesystem::exists(candidate, ignored); ++copy)
        candidate = folder / (name + " (" + std::to_string(copy) + ")");
    return candidate.string();
}

recording_step::recording_step(wxEvtHandler* owner, session_writer& session, std::string write_path,
                               frame_snapshot snapshot, local_clock clock,
                               std::function<void()> before_new_session)
    : owner_(owner), log_(owner), session_(session), write_path_(std::move(write_path)),
      snapshot_(std::move(snapshot)), clock_(std::move(clock)),
      before_new_session_(std::move(before_new_session)) {}

void recording_step::handle_dpp(std::uint32_t value, int kind) {
    close_on_reset(value);
    last_dpp_ = value;
    try {
        record(value);
    } catch (const std::exception& e) {
        log_.error(readable_text(e.what()), "session database");
        give_up_session();
    }
    const record_status status{kind, value, session_.frames_written(), {}};
    if (std::chrono::steady_clock::now() - status_posted_ < status_interval)
        held_status_ = status;
    else
        post_status(status);
}

void recording_step::post_held_status() {
    if (held_status_)
        post_status(*held_status_);
}

// A thousand counts a second would otherwise cost the recorder as many events, and the window as
// many repaints of a text that nobody can read at that pace.
void recording_step::post_status(const record_status& status) {
    post_report(owner_, EVT_THREAD_RECORD_STATUS, status);
    held_status_.reset();
    status_posted_ = std::chrono::steady_clock::now();
}

void recording_step::record(std::uint32_t value) {
    if (!session_.is_open()) {
        if (std::chrono::steady_clock::now() < resume_at_)
            return;
        if (before_new_session_)
            before_new_session_();
        session_path_ = free_session_path(write_path_, session_folder_name(clock_()));
        session_.open(session_path_);
    }
    record_newest_frame(value);
}

void recording_step::give_up_session() {
    const bool empty = session_.frames_written() == 0;
    session_.close();
    std::error_code ignored;
    if (empty)
        std::filesystem::remove_all(session_path_, ignored);
    resume_at_ = std::chrono::steady_clock::now() + failure_pause;
    disk_failed_ = true;
}

void recording_step::close_on_reset(std::uint32_t value) {
    if (value >= last_dpp_)
        return;
    post_thread_event(owner_, EVT_THREAD_LOG_INFO,
                      wxString::Format("dpp reset: %u to %u", last_dpp_, value));
    session_.close();
}

// The same camera frame is never stored twice, not even after a failed attempt: the timestamp is
// taken as seen before the frame is stored.
void recording_step::record_newest_frame(std::uint32_t value) {
    const std::uint64_t timestamp = snapshot_(frame_, last_frame_timestamp_);
    if (!frame_ || frame_->empty() || timestamp == last_frame_timestamp_)
        return;
    last_frame_timestamp_ = timestamp;
    session_.record_frame(*frame_, value);
    if (disk_failed_)
        post_thread_event(owner_, EVT_THREAD_LOG_INFO,
                          L"Запись возобновлена: " + readable_text(session_path_));
    disk_failed_ = false;
}
