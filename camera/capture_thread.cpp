#include "camera/capture_thread.h"

#include <atomic>
#include <limits>
#include <stdexcept>

#include "camera/gige_receive.h"
#include "log/thread_events.h"
#include "settings/settings.h"

namespace {
constexpr std::uint32_t wait_timeout_ms = 1000;
constexpr std::uint32_t image_status = 2;

void check(J_STATUS_TYPE status, const char* error) {
    if (status != J_ST_SUCCESS)
        throw std::runtime_error(error);
}

template <typename T> T buffer_info(STREAM_HANDLE stream, BUF_HANDLE buffer, int item) {
    T value{};
    std::uint32_t size = sizeof value;
    check(J_DataStream_GetBufferInfo(stream, buffer, item, &value, &size),
          "Error getting buffer info");
    return value;
}

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

std::uint64_t stream_info(STREAM_HANDLE stream, int item) {
    std::uint64_t value = 0;
    std::uint32_t size = sizeof value;
    check(J_DataStream_GetStreamInfo(stream, item, &value, &size), "Error getting stream info");
    return value;
}
} // namespace

capture_thread::capture_thread(wxEvtHandler* owner, const wxConfigBase& config, CAM_HANDLE camera,
                               frame_buffer& buffer, seconds_clock clock)
    : wxThread(wxTHREAD_JOINABLE), owner_(owner), camera_(camera), buffer_(buffer),
      rotate_(read_rotate180(config)), clock_(std::move(clock)) {}

capture_thread::~capture_thread() = default;

void capture_thread::request_exit() {
    std::lock_guard<std::mutex> guard(exit_mutex_);
    exit_requested_ = true;
    if (condition_)
        J_Event_ExitCondition(condition_);
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
    release();
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
    std::uint32_t streams = 0;
    check(J_Camera_GetNumOfDataStreams(camera_, &streams), "Error getting number of streams");
    STREAM_HANDLE stream = nullptr;
    check(J_Camera_CreateDataStream(camera_, 0, &stream), "Error creating data stream");
    stream_ = stream;
    const std::uint64_t no_handling = 0;
    std::uint32_t size = sizeof no_handling;
    check(J_DataStream_SetParam(stream_, STREAM_PARAM_BUFFER_HANDLING, &no_handling, &size),
          "Error setting stream parameter");
    announce_buffers();
    if (!create_condition())
        return false;
    start_acquisition();
    return true;
}

// Each block enters the map as soon as it is announced, so that a failure further on still revokes
// it before freeing it.
void capture_thread::announce_buffers() {
    buffer_size_ = stream_buffer_size(camera_, buffer_.frame_bytes());
    for (int i = 0; i < buffer_count; ++i) {
        std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[buffer_size_]);
        BUF_HANDLE handle = nullptr;
        check(J_DataStream_AnnounceBuffer(stream_, block.get(), buffer_size_, nullptr, &handle),
              "Error announce buffer");
        if (!buffers_.try_emplace(handle, std::move(block)).second)
            throw std::runtime_error("Error announce buffer");
        check(J_DataStream_QueueBuffer(stream_, handle), "Error queue buffer");
    }
}

bool capture_thread::create_condition() {
    CONDITION_HANDLE condition = nullptr;
    check(J_Event_CreateCondition(&condition), "Error create condition");
    std::lock_guard<std::mutex> guard(exit_mutex_);
    condition_ = condition;
    return !exit_requested_;
}

void capture_thread::start_acquisition() {
    EVENT_HANDLE event = nullptr;
    check(J_DataStream_RegisterEvent(stream_, EVENT_NEW_BUFFER, condition_, &event),
          "Error register event");
    event_ = event;
    event_registered_ = true;
    check(J_DataStream_StartAcquisition(stream_, ACQ_START_NEXT_IMAGE, ACQ_INFINITE),
          "error start acquisition");
    stream_started_ = true;
    start_time_ = clock_();
    // A failed start may still have reached the camera; the stop is harmless if it did not.
    camera_started_ = true;
    check(J_Camera_ExecuteCommand(camera_, "AcquisitionStart"), "Error starting acquisition.");
}

void capture_thread::run_loop() {
    std::uint64_t frames = 0;
    for (;;) {
        std::uint32_t result = J_COND_WAIT_ERROR;
        if (J_Event_WaitForCondition(condition_, wait_timeout_ms, &result) != J_ST_SUCCESS) {
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

// A handle that is not one of this stream's buffers is never read or requeued: its memory is not
// known to be ours.
void capture_thread::handle_frame(std::uint64_t& frames) {
    EVENT_NEW_BUFFER_DATA data{};
    std::uint32_t size = sizeof data;
    J_Event_GetData(event_, &data, &size);
    current_buffer_ = data.BufferHandle;
    if (buffers_.count(current_buffer_) == 0)
        return;
    J_tIMAGE_INFO image = read_image_info(current_buffer_);
    if (rotate_)
        J_Image_Rotate(&image, J_ROTATE_180);
    if (image.pImageBuffer)
        buffer_.store(image.pImageBuffer, buffer_size_, image.iTimeStamp, image.iPaddingX);
    if (++frames % 10 == 0)
        post(EVT_THREAD_NEW_FRAME,
             wxString::Format("timestamp: %llu missing packets: %u queued buffers: %u",
                              static_cast<unsigned long long>(image.iTimeStamp),
                              static_cast<unsigned>(image.iMissingPackets),
                              static_cast<unsigned>(image.iQueuedBuffers)));
    J_DataStream_QueueBuffer(stream_, current_buffer_);
}

// The items are read in the order the camera layer documents for the image record.
J_tIMAGE_INFO capture_thread::read_image_info(BUF_HANDLE buffer) {
    J_tIMAGE_INFO image{};
    image.pImageBuffer = reinterpret_cast<std::uint8_t*>(
        static_cast<std::uintptr_t>(buffer_info<std::uint64_t>(stream_, buffer, BUFFER_INFO_BASE)));
    image.iImageSize = buffer_info<std::uint32_t>(stream_, buffer, BUFFER_INFO_SIZE);
    image.iSizeX = buffer_info<std::uint32_t>(stream_, buffer, BUFFER_INFO_WIDTH);
    image.iSizeY = buffer_info<std::uint32_t>(stream_, buffer, BUFFER_INFO_HEIGHT);
    image.iPixelType = buffer_info<std::uint64_t>(stream_, buffer, BUFFER_INFO_PIXELTYPE);
    image.iTimeStamp = buffer_info<std::uint64_t>(stream_, buffer, BUFFER_INFO_TIMESTAMP);
    image.iMissingPackets =
        buffer_info<std::uint32_t>(stream_, buffer, BUFFER_INFO_NUM_PACKETS_MISSING);
    image.iAnnouncedBuffers = buffer_count;
    image.iQueuedBuffers = static_cast<std::uint32_t>(
        buffer_info<std::uint64_t>(stream_, buffer, BUFFER_INFO_NUMBER_OF_QUEUED));
    image.iOffsetX = buffer_info<std::uint32_t>(stream_, buffer, BUFFER_INFO_XOFFSET);
    image.iOffsetY = buffer_info<std::uint32_t>(stream_, buffer, BUFFER_INFO_YOFFSET);
    image.iPaddingX = buffer_info<std::uint32_t>(stream_, buffer, BUFFER_INFO_XPADDING);
    image.iBlockId = buffer_info<std::uint64_t>(stream_, buffer, BUFFER_INFO_BLOCKID);
    image.iImageStatus = image_status;
    return image;
}

void capture_thread::post_statistics() {
    const std::uint64_t delivered = stream_info(stream_, STREAM_INFO_NUM_DELIVERED);
    const std::uint64_t lost = stream_info(stream_, STREAM_INFO_NUM_UNDERRUN);
    const std::uint64_t await = stream_info(stream_, STREAM_INFO_NUM_AWAIT_DELIVERY);
    const std::uint64_t corrupt = stream_info(stream_, STREAM_INFO_NUM_CORRUPT);
    const std::int64_t elapsed = clock_() - start_time_;
    const std::uint64_t fps = elapsed > 0 ? delivered / static_cast<std::uint64_t>(elapsed) : 0;
    post(EVT_THREAD_STREAM_STATS,
         wxString::Format(
             "delivered: %llu lost: %llu await: %llu corrupt: %llu fps: %llu",
             static_cast<unsigned long long>(delivered), static_cast<unsigned long long>(lost),
             static_cast<unsigned long long>(await), static_cast<unsigned long long>(corrupt),
             static_cast<unsigned long long>(fps)));
}

// The stop sequence, limited to what set-up reached; statuses are ignored.
void capture_thread::release() {
    if (camera_started_)
        J_Camera_ExecuteCommand(camera_, "AcquisitionStop");
    if (event_registered_)
        J_DataStream_UnRegisterEvent(stream_, EVENT_NEW_BUFFER);
    if (event_)
        J_Event_Close(event_);
    close_condition();
    if (stream_started_)
        J_DataStream_StopAcquisition(stream_, ACQ_STOP_FLAG_KILL);
    if (!stream_)
        return;
    J_DataStream_FlushQueue(stream_, ACQ_QUEUE_INPUT_TO_OUTPUT);
    J_DataStream_FlushQueue(stream_, ACQ_QUEUE_OUTPUT_DISCARD);
    revoke_buffers();
    J_DataStream_Close(stream_);
    stream_ = nullptr;
    buffers_.clear(); // the layer uses no buffer memory once the stream is closed
}

// A block is freed only once the layer has let go of it: a buffer whose revoke fails may still be
// written into, so its block stays in the map until the stream is closed.
void capture_thread::revoke_buffers() {
    for (auto entry = buffers_.begin(); entry != buffers_.end();) {
        void* memory = nullptr;
        void* private_data = nullptr;
        if (J_DataStream_RevokeBuffer(stream_, entry->first, &memory, &private_data) ==
            J_ST_SUCCESS)
            entry = buffers_.erase(entry);
        else
            ++entry;
    }
}

void capture_thread::close_condition() {
    std::lock_guard<std::mutex> guard(exit_mutex_);
    if (condition_)
        J_Event_CloseCondition(condition_);
    condition_ = nullptr;
}

void capture_thread::post(const wxEventTypeTag<wxThreadEvent>& type, const wxString& text) {
    post_thread_event(owner_, type, text);
}
