#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "camera/jai_sdk.h"

// One data stream of an open camera as the capture thread runs it: the stream handle, the buffers
// announced to it, the condition and the new-buffer event. Set up step by step (open, announce,
// create_condition, start); a step that fails throws std::runtime_error with its error text. stop()
// runs the stop sequence for the steps that were reached, and so does the destructor for what is
// left; statuses are ignored there.
//
// Thread safety: one thread makes the calls, except end_waits(). The condition handle is written
// under the mutex given at construction, so that another thread holding it may call end_waits().
// The camera and the mutex are not owned and outlive the stream.
class data_stream {
public:
    data_stream(CAM_HANDLE camera, std::mutex& condition_mutex);
    ~data_stream();
    data_stream(const data_stream&) = delete;
    data_stream& operator=(const data_stream&) = delete;

    void open();
    // Buffers of `size` bytes, each queued as soon as it is announced.
    void announce(int count, std::uint32_t size);
    void create_condition();
    // Registers the new-buffer event, starts the stream, then the camera.
    void start();
    // How many buffers were not given back by their revoke; their blocks lived until the close.
    std::size_t stop();

    // With the condition mutex held, any thread: the pending and every later wait returns at once.
    void end_waits();

    J_STATUS_TYPE wait(std::uint32_t timeout_ms, std::uint32_t& result);
    // The buffer of the last new-buffer event; none when it is not one of this stream's buffers,
    // whose memory is then not known to be ours.
    std::optional<BUF_HANDLE> delivered_buffer();
    // An item in the width the camera layer documents for it (std::uint32_t or std::uint64_t).
    template <typename T> T buffer_info(BUF_HANDLE buffer, int item);
    std::uint64_t stream_info(int item);
    J_STATUS_TYPE requeue(BUF_HANDLE buffer);
    std::uint32_t buffer_size() const { return buffer_size_; }

private:
    void close_condition();
    std::size_t revoke_buffers();

    const CAM_HANDLE camera_;
    std::mutex& condition_mutex_;
    STREAM_HANDLE stream_ = nullptr;
    // Announced buffer handle to its memory. A block enters as soon as it is announced and is freed
    // only once the layer gave it back on revoke, or the stream is closed: until then the layer may
    // write into it.
    std::map<BUF_HANDLE, std::unique_ptr<std::uint8_t[]>> buffers_;
    std::uint32_t buffer_size_ = 0;
    CONDITION_HANDLE condition_ = nullptr;
    EVENT_HANDLE event_ = nullptr;
    // How far set-up got, so that stop runs exactly the steps that apply.
    bool event_registered_ = false;
    bool stream_started_ = false;
    bool camera_started_ = false;
};
