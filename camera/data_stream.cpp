#include "camera/data_stream.h"

#include <stdexcept>
#include <utility>

namespace {
void check(J_STATUS_TYPE status, const char* error) {
    if (status != J_ST_SUCCESS)
        throw std::runtime_error(error);
}
} // namespace

data_stream::data_stream(CAM_HANDLE camera, std::mutex& condition_mutex)
    : camera_(camera), condition_mutex_(condition_mutex) {}

data_stream::~data_stream() {
    stop();
}

void data_stream::open() {
    std::uint32_t streams = 0;
    check(J_Camera_GetNumOfDataStreams(camera_, &streams), "Error getting number of streams");
    STREAM_HANDLE stream = nullptr;
    check(J_Camera_CreateDataStream(camera_, 0, &stream), "Error creating data stream");
    stream_ = stream;
    const std::uint64_t no_handling = 0;
    std::uint32_t size = sizeof no_handling;
    check(J_DataStream_SetParam(stream_, STREAM_PARAM_BUFFER_HANDLING, &no_handling, &size),
          "Error setting stream parameter");
}

void data_stream::announce(int count, std::uint32_t size) {
    buffer_size_ = size;
    for (int i = 0; i < count; ++i) {
        std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[size]);
        BUF_HANDLE handle = nullptr;
        check(J_DataStream_AnnounceBuffer(stream_, block.get(), size, nullptr, &handle),
              "Error announce buffer");
        if (!buffers_.try_emplace(handle, std::move(block)).second)
            throw std::runtime_error("Error announce buffer");
        check(J_DataStream_QueueBuffer(stream_, handle), "Error queue buffer");
    }
}

void data_stream::create_condition() {
    CONDITION_HANDLE condition = nullptr;
    check(J_Event_CreateCondition(&condition), "Error create condition");
    std::lock_guard<std::mutex> guard(condition_mutex_);
    condition_ = condition;
}

void data_stream::start() {
    EVENT_HANDLE event = nullptr;
    check(J_DataStream_RegisterEvent(stream_, EVENT_NEW_BUFFER, condition_, &event),
          "Error register event");
    event_ = event;
    event_registered_ = true;
    check(J_DataStream_StartAcquisition(stream_, ACQ_START_NEXT_IMAGE, ACQ_INFINITE),
          "error start acquisition");
    stream_started_ = true;
    // A failed start may still have reached the camera; the stop is harmless if it did not.
    camera_started_ = true;
    check(J_Camera_ExecuteCommand(camera_, "AcquisitionStart"), "Error starting acquisition.");
}

std::size_t data_stream::stop() {
    if (std::exchange(camera_started_, false))
        J_Camera_ExecuteCommand(camera_, "AcquisitionStop");
    if (std::exchange(event_registered_, false))
        J_DataStream_UnRegisterEvent(stream_, EVENT_NEW_BUFFER);
    if (event_)
        J_Event_Close(std::exchange(event_, nullptr));
    close_condition();
    if (std::exchange(stream_started_, false))
        J_DataStream_StopAcquisition(stream_, ACQ_STOP_FLAG_KILL);
    if (!stream_)
        return 0;
    J_DataStream_FlushQueue(stream_, ACQ_QUEUE_INPUT_TO_OUTPUT);
    J_DataStream_FlushQueue(stream_, ACQ_QUEUE_OUTPUT_DISCARD);
    const std::size_t kept = revoke_buffers();
    J_DataStream_Close(std::exchange(stream_, nullptr));
    buffers_.clear(); // the layer uses no buffer memory once the stream is closed
    return kept;
}

std::size_t data_stream::revoke_buffers() {
    for (auto entry = buffers_.begin(); entry != buffers_.end();) {
        void* memory = nullptr;
        void* private_data = nullptr;
        if (J_DataStream_RevokeBuffer(stream_, entry->first, &memory, &private_data) ==
                J_ST_SUCCESS &&
            memory == entry->second.get())
            entry = buffers_.erase(entry);
        else
            ++entry;
    }
    return buffers_.size();
}

void data_stream::close_condition() {
    std::lock_guard<std::mutex> guard(condition_mutex_);
    if (condition_)
        J_Event_CloseCondition(condition_);
    condition_ = nullptr;
}

void data_stream::end_waits() {
    if (condition_)
        J_Event_ExitCondition(condition_);
}

J_STATUS_TYPE data_stream::wait(std::uint32_t timeout_ms, std::uint32_t& result) {
    return J_Event_WaitForCondition(condition_, timeout_ms, &result);
}

std::optional<BUF_HANDLE> data_stream::delivered_buffer() {
    EVENT_NEW_BUFFER_DATA data{};
    std::uint32_t size = sizeof data;
    J_Event_GetData(event_, &data, &size);
    if (buffers_.count(data.BufferHandle) == 0)
        return std::nullopt;
    return data.BufferHandle;
}

template <typename T> T data_stream::buffer_info(BUF_HANDLE buffer, int item) {
    T value{};
    std::uint32_t size = sizeof value;
    check(J_DataStream_GetBufferInfo(stream_, buffer, item, &value, &size),
          "Error getting buffer info");
    return value;
}
template std::uint32_t data_stream::buffer_info<std::uint32_t>(BUF_HANDLE, int);
template std::uint64_t data_stream::buffer_info<std::uint64_t>(BUF_HANDLE, int);

std::uint64_t data_stream::stream_info(int item) {
    std::uint64_t value = 0;
    std::uint32_t size = sizeof value;
    check(J_DataStream_GetStreamInfo(stream_, item, &value, &size), "Error getting stream info");
    return value;
}

J_STATUS_TYPE data_stream::requeue(BUF_HANDLE buffer) {
    return J_DataStream_QueueBuffer(stream_, buffer);
}
