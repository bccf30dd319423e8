#include "camera/capture_thread.h"

#include <atomic>
#include <limits>

#include "camera/gige_receive.h"
#include "log/thread_events.h"

namespace {
constexpr std::uint32_t wait_timeout_ms = 1000;
constexpr std::uint32_t image_status = 2;

// The camera's PayloadSize counts line padding and chunk data too, which a buffer of one frame
// would cut off (the layer then drops the frame as incomplete). A camera that does not tell, or
// tells less than a frame or more than a buffer can hold, gets buffers of one frame.
std::uint32_t stream_buffer_size(CAM_HANDLE camera, std::int64_t frame_bytes) {
    std::int64_t payload = 0;
    if (J_Camera_GetValueInt64(camera, "PayloadSize", &payload) != J_ST_SUCCESS ||
        payload < frame_bytes || payload > std::numeric_limits<std::uint32_t>::max())
        payload = frame_bytes;
    return static_cast<std::uint32_t>(payload);
}
} // namespace

capture_thread::capture_thread(wxEvtHandler* owner, bool rotate180, CAM_HANDLE camera,
                               frame_buffer& buffer, seconds_clock clock)
    : wxThread(wxTHREAD_JOINABLE), owner_(owner), camera_(camera), buffer_(buffer),
      rotate_(rotate180), clock_(std::move(clock)), stream_(camera, exit_mutex_) {}

capture_thread::~capture_thread() = default;

void capture_thread::request_exit() {
    std::lock_guard<std::mutex> guard(exit_mutex_);
    exit_requested_ = true;
    stream_.end_waits();
}

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
    stream_.stop();
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

// False when an exit was asked for before the condition existed: nothing is started then.
bool capture_thread::set_up() {
    stream_.open();
    stream_.announce(buffer_count, stream_buffer_size(camera_, buffer_.frame_bytes()));
    stream_.create_condition();
    {
        std::lock_guard<std::mutex> guard(exit_mutex_);
        if (exit_requested_)
            return false;
    }
    stream_.start();
    start_time_ = clock_();
    return true;
}

void capture_thread::run_loop() {
    std::uint64_t frames = 0;
    for (;;) {
        std::uint32_t result = J_COND_WAIT_ERROR;
        if (stream_.wait(wait_timeout_ms, result) != J_ST_SUCCESS) {
            post(EVT_THREAD_LOG_ERROR, "Error waiting for event");
            return;
        }
        switch (result) {
        case J_COND_WAIT_SIGNAL:
            handle_frame(frames);
            post_statistics();
            break;
        case J_COND_WAIT_TIMEOUT:
            post_statistics();
            break;
        case J_COND_WAIT_EXIT:
            post(EVT_THREAD_LOG_INFO, "Condition wait exit");
            return;
        case J_COND_WAIT_ERROR:
            post(EVT_THREAD_LOG_ERROR, "Condition wait error");
            return;
        default:
            post(EVT_THREAD_LOG_ERROR, "Unknown error in capture thread loop");
            return;
        }
    }
}

void capture_thread::handle_frame(std::uint64_t& frames) {
    const std::optional<BUF_HANDLE> delivered = stream_.delivered_buffer();
    if (!delivered)
        return;
    J_tIMAGE_INFO image = read_image_info(*delivered);
    if (rotate_)
        J_Image_Rotate(&image, J_ROTATE_180);
    if (image.pImageBuffer)
        buffer_.store(image.pImageBuffer, stream_.buffer_size(), image.iTimeStamp, image.iPaddingX);
    if (++frames % 10 == 0)
        post_report(owner_, EVT_THREAD_NEW_FRAME,
                    frame_notice{image.iTimeStamp, image.iMissingPackets, image.iQueuedBuffers});
    stream_.requeue(*delivered);
}

// The items are read in the order the camera layer documents for the image record.
J_tIMAGE_INFO capture_thread::read_image_info(BUF_HANDLE buffer) {
    J_tIMAGE_INFO image{};
    image.pImageBuffer = reinterpret_cast<std::uint8_t*>(
        static_cast<std::uintptr_t>(stream_.buffer_info<std::uint64_t>(buffer, BUFFER_INFO_BASE)));
    image.iImageSize = stream_.buffer_info<std::uint32_t>(buffer, BUFFER_INFO_SIZE);
    image.iSizeX = stream_.buffer_info<std::uint32_t>(buffer, BUFFER_INFO_WIDTH);
    image.iSizeY = stream_.buffer_info<std::uint32_t>(buffer, BUFFER_INFO_HEIGHT);
    image.iPixelType = stream_.buffer_info<std::uint64_t>(buffer, BUFFER_INFO_PIXELTYPE);
    image.iTimeStamp = stream_.buffer_info<std::uint64_t>(buffer, BUFFER_INFO_TIMESTAMP);
    image.iMissingPackets =
        stream_.buffer_info<std::uint32_t>(buffer, BUFFER_INFO_NUM_PACKETS_MISSING);
    image.iAnnouncedBuffers = buffer_count;
    image.iQueuedBuffers = static_cast<std::uint32_t>(
        stream_.buffer_info<std::uint64_t>(buffer, BUFFER_INFO_NUMBER_OF_QUEUED));
    image.iOffsetX = stream_.buffer_info<std::uint32_t>(buffer, BUFFER_INFO_XOFFSET);
    image.iOffsetY = stream_.buffer_info<std::uint32_t>(buffer, BUFFER_INFO_YOFFSET);
    image.iPaddingX = stream_.buffer_info<std::uint32_t>(buffer, BUFFER_INFO_XPADDING);
    image.iBlockId = stream_.buffer_info<std::uint64_t>(buffer, BUFFER_INFO_BLOCKID);
    image.iImageStatus = image_status;
    return image;
}

void capture_thread::post_statistics() {
    stream_statistics s;
    s.delivered = stream_.stream_info(STREAM_INFO_NUM_DELIVERED);
    s.lost = stream_.stream_info(STREAM_INFO_NUM_UNDERRUN);
    s.await = stream_.stream_info(STREAM_INFO_NUM_AWAIT_DELIVERY);
    s.corrupt = stream_.stream_info(STREAM_INFO_NUM_CORRUPT);
    const std::int64_t elapsed = clock_() - start_time_;
    s.fps = elapsed > 0 ? s.delivered / static_cast<std::uint64_t>(elapsed) : 0;
    post_report(owner_, EVT_THREAD_STREAM_STATS, s);
}

void capture_thread::post(const wxEventTypeTag<wxThreadEvent>& type, const wxString& text) {
    post_thread_event(owner_, type, text);
}
