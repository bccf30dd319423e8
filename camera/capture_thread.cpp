#include "camera/capture_thread.h"

#include <chrono>
#include <limits>
#include <stdexcept>

#include "camera/gige_receive.h"
#include "log/thread_events.h"

namespace {
using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Each wait is this short, so that an exit request is seen within it.
constexpr milliseconds wait_slice{100};
constexpr milliseconds quiet_second{1000};

// The camera's PayloadSize counts line padding and chunk data too, which a buffer of one frame
// would cut off. A camera that does not tell, or tells less than a frame or more than a buffer
// can hold, gets buffers of one frame.
std::size_t stream_buffer_size(camera_device& camera, std::int64_t frame_bytes) {
    std::int64_t payload = camera.integer("PayloadSize").value_or(frame_bytes);
    if (payload < frame_bytes || payload > std::numeric_limits<std::uint32_t>::max())
        payload = frame_bytes;
    return static_cast<std::size_t>(payload);
}
} // namespace

capture_thread::capture_thread(wxEvtHandler* owner, const capture_settings& settings,
                               camera_device& camera, frame_buffer& buffer, seconds_clock clock)
    : wxThread(wxTHREAD_JOINABLE), owner_(owner), camera_(camera), buffer_(buffer),
      settings_(settings), clock_(std::move(clock)) {}

capture_thread::~capture_thread() = default;

wxThread::ExitCode capture_thread::Entry() {
    ExitCode code = nullptr;
    wxThread::SetNameForCurrent("capture"); // found by name in /proc by diagnosis and benchmarks
    warn_of_small_receive_buffer();
    try {
        if (set_up())
            run_loop();
    } catch (const std::exception& error) {
        post(EVT_THREAD_LOG_ERROR, wxString::FromUTF8(error.what()));
        code = reinterpret_cast<ExitCode>(-1);
    } catch (...) {
        post(EVT_THREAD_LOG_ERROR, "Unknown exception in capture thread");
        code = reinterpret_cast<ExitCode>(-1);
    }
    if (camera_started_)
        camera_.execute("AcquisitionStop");
    stream_.reset();
    return code;
}

// A frame larger than the kernel lets a socket buffer may lose packets whenever this thread is
// late. That is how a stock kernel is set up, not a fault of this capture, so the operator reads it
// once per run as information; the flag is shared by every capture thread of the process.
void capture_thread::warn_of_small_receive_buffer() {
    static std::atomic<bool> warned{false};
    const auto frame_bytes = static_cast<std::uint64_t>(buffer_.frame_bytes());
    const std::string warning = receive_buffer_warning(read_rmem_max(), frame_bytes);
    if (!warning.empty() && !warned.exchange(true))
        post(EVT_THREAD_LOG_INFO, wxString::FromUTF8(warning));
}

// False when an exit was asked for before the camera was started: nothing is started then.
bool capture_thread::set_up() {
    stream_ = camera_.open_stream(buffer_count, stream_buffer_size(camera_, buffer_.frame_bytes()));
    if (!stream_)
        throw std::runtime_error("Error creating data stream");
    if (exit_requested_)
        return false;
    start_time_ = clock_();
    camera_started_ = true; // a failed start may still have reached the camera
    if (!camera_.execute("AcquisitionStart"))
        throw std::runtime_error("Error starting acquisition.");
    return true;
}

// A second without frames posts the statistics and asks whether the camera still answers.
void capture_thread::run_loop() {
    std::uint64_t frames = 0;
    auto last_report = steady_clock::now();
    while (!exit_requested_) {
        if (const camera_frame* frame = stream_->next_frame(wait_slice)) {
            handle_frame(*frame, frames);
        } else if (steady_clock::now() - last_report < quiet_second) {
            continue;
        } else if (!camera_.answers()) {
            camera_started_ = false; // nothing more is sent to it
            post(EVT_THREAD_LOG_ERROR, "Camera lost: it no longer answers.");
            if (settings_.on_lost)
                settings_.on_lost();
            return;
        }
        post_statistics();
        last_report = steady_clock::now();
    }
    post(EVT_THREAD_LOG_INFO, "Condition wait exit");
}

// An incomplete frame is counted by the stream and never stored.
void capture_thread::handle_frame(const camera_frame& frame, std::uint64_t& frames) {
    if (!buffer_.store(frame, settings_.rotate180))
        return;
    if (++frames % 10 == 0)
        post_report(owner_, EVT_THREAD_NEW_FRAME,
                    frame_notice{frame.timestamp, frame.missing_packets, frame.queued_buffers});
}

void capture_thread::post_statistics() {
    const stream_counters counters = stream_->counters();
    stream_statistics s{counters.completed,       counters.failed,         counters.underruns,
                        counters.missing_packets, counters.resent_packets, 0};
    const std::int64_t elapsed = clock_() - start_time_;
    s.fps = elapsed > 0 ? s.completed / static_cast<std::uint64_t>(elapsed) : 0;
    post_report(owner_, EVT_THREAD_STREAM_STATS, s);
}

void capture_thread::post(const wxEventTypeTag<wxThreadEvent>& type, const wxString& text) {
    post_thread_event(owner_, type, text);
}
