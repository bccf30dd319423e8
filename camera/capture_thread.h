#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include <wx/thread.h>

#include "camera/grab_modes.h"

// Receives the camera's frames through the data stream and keeps the newest in the frame buffer.
// Joinable; made, run, stopped (request_exit, Wait) and deleted by its grab mode on the GUI thread.
// It talks to the owner only through queued thread events: a frame line every 10th frame, a
// statistics line after every frame and every one-second time-out, log rows for errors and for its
// end. However it ends, it releases what it set up (acquisition, event, condition, stream,
// buffers), so the camera can be captured again.
class capture_thread : public wxThread {
public:
    static constexpr int buffer_count = 20;

    // Neither the camera nor the frame buffer is owned; both outlive the thread. The rotation
    // setting is read here, on the GUI thread.
    capture_thread(wxEvtHandler* owner, const wxConfigBase& config, CAM_HANDLE camera,
                   frame_buffer& buffer, seconds_clock clock = system_seconds);
    ~capture_thread() override;

    // Any thread, any moment: the pending or next wait returns at once; a request made before the
    // thread has created its condition ends the thread as soon as it has.
    void request_exit();

protected:
    ExitCode Entry() override;

private:
    void warn_of_small_receive_buffer();
    bool set_up();
    void announce_buffers();
    bool create_condition();
    void start_acquisition();
    void run_loop();
    void handle_frame(std::uint64_t& frames);
    J_tIMAGE_INFO read_image_info(BUF_HANDLE buffer);
    void post_statistics();
    void release();
    void revoke_buffers();
    void close_condition();
    void post(const wxEventTypeTag<wxThreadEvent>& type, const wxString& text);

    wxEvtHandler* const owner_;
    const CAM_HANDLE camera_;
    STREAM_HANDLE stream_ = nullptr;
    frame_buffer& buffer_;
    // Announced buffer handle to its memory; each block lives until its buffer is revoked, or, if
    // the revoke fails, until the stream is closed.
    std::map<BUF_HANDLE, std::unique_ptr<std::uint8_t[]>> buffers_;
    std::uint32_t buffer_size_ = 0;
    // Written by this thread under exit_mutex_; read by request_exit under it too.
    CONDITION_HANDLE condition_ = nullptr;
    EVENT_HANDLE event_ = nullptr;
    BUF_HANDLE current_buffer_ = nullptr;
    const bool rotate_;
    std::int64_t start_time_ = 0;
    const seconds_clock clock_;
    // How far set-up got, so that release runs exactly the steps that apply.
    bool event_registered_ = false;
    bool stream_started_ = false;
    bool camera_started_ = false;
    // Hands the exit request over from the GUI thread; also keeps J_Event_ExitCondition off a
    // condition that is being closed.
    std::mutex exit_mutex_;
    bool exit_requested_ = false;
};
