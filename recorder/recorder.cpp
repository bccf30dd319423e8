#include "recorder/recorder.h"

#include <algorithm>
#include <chrono>
#include <shared_mutex>
#include <utility>

#include <wx/thread.h>

#include "base/encoding.h"
#include "camera/recording_grab.h"
#include "recorder/function_thread.h"
#include "service/data_service.h"
#include "service/telemetry.h"

namespace {
template <typename Thread> void stop_and_delete(std::unique_ptr<Thread>& thread) {
    if (!thread)
        return;
    thread->stop();
    thread->Wait();
    thread.reset();
}
} // namespace

recorder::recorder(wxEvtHandler* owner, session_store& sessions)
    : owner_(owner), sessions_(sessions), layer_(open_factory()), archive_(owner, sessions),
      thread_(std::make_unique<function_thread>([this] { run_commands(); })) {
    if (thread_->Run() != wxTHREAD_NO_ERROR)
        throw std::runtime_error("Error starting the recorder's thread");
}

recorder::~recorder() {
    stop_network();
    {
        std::lock_guard<std::mutex> hold(lock_);
        commands_.clear();
        finishing_ = true;
    }
    wake_.notify_one();
    thread_->Wait();
}

void recorder::start_network(const network_ports& ports, const wxString& data_service_port,
                             const wxString& side) {
    service_thread_ = ports.data_service_from_settings
                          ? std::make_unique<service_thread>(owner_, sessions_, data_service_port)
                          : std::make_unique<service_thread>(owner_, sessions_, any_free_port);
    if (service_thread_->Run() != wxTHREAD_NO_ERROR)
        service_thread_.reset();
    telemetry_thread_ =
        std::make_unique<telemetry_thread>(owner_, sessions_, side, ports.telemetry);
    if (telemetry_thread_->Run() != wxTHREAD_NO_ERROR)
        telemetry_thread_.reset();
}

void recorder::stop_network() {
    stop_and_delete(telemetry_thread_);
    stop_and_delete(service_thread_);
}

void recorder::find_cameras(const std::wstring& driver) {
    queue([this, driver] {
        list_cameras();
        if (!cameras_.empty())
            open_camera(wide_text(preferred_description(cameras_, narrow_text(driver))));
    });
}

void recorder::update_camera_list(const std::wstring& shown) {
    queue([this, shown] {
        close_camera();
        list_cameras();
        open_camera(shown);
    });
}

void recorder::select_camera(const std::wstring& description) {
    queue([this, description] {
        close_camera();
        open_camera(description);
    });
}

// A camera that refuses the mode fails the command: the operator sees it in a box.
void recorder::set_exposure_mode(const std::wstring& mode) {
    queue([this, mode] {
        if (!camera_)
            return;
        try {
            ::set_exposure_mode(camera_->device(), narrow_text(mode));
        } catch (const std::exception& e) {
            post_thread_event(owner_, EVT_THREAD_COMMAND_FAILED, readable_text(e.what()));
            return;
        }
        post_thread_event(owner_, EVT_THREAD_LOG_INFO, L"Exposure mode selected: " + mode);
    });
}

void recorder::start_capture(const capture_settings& settings) {
    queue([this, settings = watched(settings)] {
        start([this, settings](camera_device& camera) {
            return std::make_unique<continuous_grab>(owner_, settings, camera);
        });
    });
}

void recorder::start_recording(const capture_settings& capture, recording_settings recording) {
    recording.before_new_session = [this] { archive_.before_new_session(); };
    queue([this, capture = watched(capture), recording] {
        start([this, capture, recording](camera_device& camera) {
            return std::make_unique<continuous_grab_write>(owner_, sessions_, capture, recording,
                                                           camera);
        });
    });
}

// The capture thread that finds its camera gone asks for it to be closed and looked for.
capture_settings recorder::watched(capture_settings settings) {
    settings.on_lost = [this] { queue([this] { lose_camera(); }); };
    return settings;
}

void recorder::stop_capture() {
    queue([this] { release_capture(); });
}

recorder_state recorder::state() const {
    std::lock_guard<std::mutex> hold(lock_);
    recorder_state now = state_;
    now.busy = unfinished_ > 0;
    return now;
}

bool recorder::capturing() const {
    std::lock_guard<std::mutex> hold(lock_);
    return grab_mode_ != nullptr;
}

// The lock is held for one copy; the recorder's thread takes the mode out under it before it
// stops the mode, so the buffer read here is never one being destroyed.
bool recorder::copy_live_frame(live_frame& frame, cv::Size size) const {
    std::lock_guard<std::mutex> hold(lock_);
    if (!grab_mode_)
        return false;
    const frame_buffer& buffer = grab_mode_->buffer();
    {
        std::shared_lock<std::shared_mutex> reader(buffer.lock);
        const cv::Rect part(0, 0, std::min(size.width, buffer.image.cols),
                            std::min(size.height, buffer.image.rows));
        if (buffer.timestamp == frame.timestamp && frame.image.size() == part.size())
            return true;
        buffer.image(part).copyTo(frame.image);
        frame.timestamp = buffer.timestamp;
    }
    frame.overlay = grab_mode_->overlay_text();
    return true;
}

void recorder::queue(command next) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        commands_.push_back(std::move(next));
        ++unfinished_;
    }
    wake_.notify_one();
}

// The recorder's thread. At the end the capture and the camera go here too, so that nothing of
// the camera layer is ever waited for on the GUI thread but the final join.
void recorder::run_commands() {
    wxThread::SetNameForCurrent("camera control");
    for (;;) {
        command next;
        {
            std::unique_lock<std::mutex> hold(lock_);
            const auto woken = [this] { return finishing_ || !commands_.empty(); };
            if (!wake_.wait_for(hold, std::chrono::seconds(1), woken)) {
                hold.unlock();
                look_for_lost_camera();
                continue;
            }
            if (commands_.empty())
                break;
            next = std::move(commands_.front());
            commands_.pop_front();
        }
        next();
        report();
    }
    close_camera();
}

void recorder::report() {
    recorder_state now;
    now.capturing = grab_mode_ != nullptr;
    now.camera_open = camera_ != nullptr;
    for (const auto& entry : cameras_)
        now.cameras.push_back(wide_text(entry.first));
    now.shown_camera = shown_camera_;
    {
        std::lock_guard<std::mutex> hold(lock_);
        state_ = now;
        now.busy = unfinished_ > 1;
    }
    // Queued before the command counts as finished: whoever sees the recorder idle finds the
    // report already waiting.
    post_report(owner_, EVT_THREAD_RECORDER_STATE, now);
    std::lock_guard<std::mutex> hold(lock_);
    --unfinished_;
}

// A listing that fails leaves the previous one in place.
void recorder::list_cameras() {
    try {
        cameras_ = enumerate_cameras(*layer_);
    } catch (const std::exception& e) {
        post_thread_event(owner_, EVT_THREAD_LOG_ERROR, readable_text(e.what()));
        return;
    }
    post_thread_event(owner_, EVT_THREAD_LOG_INFO,
                      wxString::Format("%u camera(s) detected", unsigned(cameras_.size())));
    for (const auto& entry : cameras_)
        post_thread_event(owner_, EVT_THREAD_LOG_INFO, readable_text(entry.second));
}

// The camera list shows the description even when it is no longer listed (the camera went between
// two updates); nothing is opened then, and nothing said.
void recorder::open_camera(const std::wstring& description) {
    shown_camera_ = description;
    const auto entry = cameras_.find(narrow_text(description));
    if (entry == cameras_.end())
        return;
    try {
        camera_ = std::make_unique<JAI_Camera>(*layer_, entry->second);
    } catch (const std::exception& e) {
        post_thread_event(owner_, EVT_THREAD_LOG_ERROR, readable_text(e.what()));
        return;
    }
    post_thread_event(owner_, EVT_THREAD_LOG_INFO,
                      L"Active camera selected: " + readable_text(entry->second));
    const std::optional<double> exposure = camera_->device().exposure_time();
    const std::optional<double> gain = camera_->device().gain();
    if (exposure || gain)
        post_thread_event(owner_, EVT_THREAD_LOG_INFO,
                          wxString::Format("Exposure time: %g us, gain: %g", exposure.value_or(0),
                                           gain.value_or(0)));
}

// A capture never outlives its camera. The operator's own choice ends the look for a lost one.
void recorder::close_camera() {
    release_capture();
    camera_.reset();
    camera_lost_ = false;
}

// Geometry errors, and threads that do not start, fail the command; no capture runs then.
void recorder::start(mode_maker make_mode) {
    if (grab_mode_ || !camera_)
        return;
    try {
        std::unique_ptr<frame_source> mode = make_mode(camera_->device());
        std::lock_guard<std::mutex> hold(lock_);
        grab_mode_ = std::move(mode);
        lost_capture_ = std::move(make_mode);
    } catch (const std::exception& e) {
        post_thread_event(owner_, EVT_THREAD_COMMAND_FAILED, readable_text(e.what()));
    }
}

// Only for the capture that reported it: a command between the report and now may have closed
// that camera already.
void recorder::lose_camera() {
    if (!grab_mode_)
        return;
    mode_maker resume = std::move(lost_capture_);
    close_camera();
    camera_lost_ = true;
    lost_capture_ = std::move(resume);
}

// Quietly, and without making the recorder busy, until the camera is listed again; then as a
// command: as an update of the camera list would, unless the operator's own choice came first.
void recorder::look_for_lost_camera() {
    if (!camera_lost_)
        return;
    try {
        if (enumerate_cameras(*layer_).count(narrow_text(shown_camera_)) == 0)
            return;
    } catch (const std::exception&) {
        return;
    }
    queue([this] {
        if (!std::exchange(camera_lost_, false))
            return;
        list_cameras();
        open_camera(shown_camera_);
        if (camera_)
            start(std::move(lost_capture_));
    });
}

// A recording that ends closes its session, which the archive copies now.
void recorder::release_capture() {
    std::unique_ptr<frame_source> going;
    {
        std::lock_guard<std::mutex> hold(lock_);
        going.swap(grab_mode_);
    }
    if (!going)
        return;
    going.reset();
    archive_.wake();
}
