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

count_intake::count_intake(wxEvtHandler* owner, const session_writer& session,
                           frame_snapshot snapshot)
    : owner_(owner), session_(session), snapshot_(std::move(snapshot)) {}

// The same camera frame is never handed over twice, not even when storing it failed: the
// timestamp is kept as seen when the frame was taken.
std::optional<count_work> count_intake::take(std::uint32_t value, int kind) {
    count_work work{value, {}, {}};
    if (last_dpp_ && value < *last_dpp_)
        work.reset_from = last_dpp_;
    last_dpp_ = value;
    last_kind_ = kind;
    if (pending_frames_.load(std::memory_order_relaxed) < max_pending_frames) {
        shared_frame frame;
        const std::uint64_t timestamp = snapshot_(frame, last_frame_timestamp_);
        if (frame && !frame->empty() && timestamp != last_frame_timestamp_) {
            last_frame_timestamp_ = timestamp;
            work.frame = std::move(frame);
            pending_frames_.fetch_add(1, std::memory_order_relaxed);
        }
    }
    refresh_status();
    if (work.frame || work.reset_from || !session_.is_open())
        return work;
    return std::nullopt;
}

// A thousand counts a second would otherwise cost as many events, and the window as many repaints
// of a text that nobody can read at that pace.
void count_intake::refresh_status() {
    held_status_ = true;
    if (std::chrono::steady_clock::now() - status_posted_ >= status_interval)
        post_held_status();
}

void count_intake::post_held_status() {
    if (!held_status_ || !last_dpp_)
        return;
    post_report(owner_, EVT_THREAD_RECORD_STATUS,
                record_status{last_kind_, *last_dpp_, session_.frames_written(), {}});
    held_status_ = false;
    status_posted_ = std::chrono::steady_clock::now();
}

recording_step::recording_step(wxEvtHandler* owner, session_writer& session, std::string write_path,
                               local_clock clock, std::function<void()> before_new_session)
    : owner_(owner), log_(owner), session_(session), write_path_(std::move(write_path)),
      clock_(std::move(clock)), before_new_session_(std::move(before_new_session)) {}

void recording_step::store(const count_work& work) {
    if (work.reset_from) {
        post_thread_event(owner_, EVT_THREAD_LOG_INFO,
                          wxString::Format("dpp reset: %u to %u", *work.reset_from, work.value));
        session_.close();
    }
    try {
        if (open_session() && work.frame)
            record_frame(*work.frame, work.value);
    } catch (const std::exception& e) {
        log_.error(readable_text(e.what()), "session database");
        give_up_session();
    }
}

bool recording_step::open_session() {
    if (session_.is_open())
        return true;
    if (std::chrono::steady_clock::now() < resume_at_)
        return false;
    if (before_new_session_)
        before_new_session_();
    session_path_ = free_session_path(write_path_, session_folder_name(clock_()));
    session_.open(session_path_);
    return true;
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

void recording_step::record_frame(const cv::Mat& frame, std::uint32_t value) {
    session_.record_frame(frame, value);
    if (disk_failed_)
        post_thread_event(owner_, EVT_THREAD_LOG_INFO,
                          L"Запись возобновлена: " + readable_text(session_path_));
    disk_failed_ = false;
}
