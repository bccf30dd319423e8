#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include <wx/thread.h>

#include "camera/data_stream.h"
#include "camera/grab_modes.h"

// Receives the camera's frames through the data stream and keeps the newest in the frame buffer.
// Joinable; made, run, stopped (request_exit, Wait) and deleted by its grab mode on the recorder's
// thread. It talks to the owner only through queued thread events: a frame notice every 10th
// frame, statistics after every frame and every one-second time-out, log rows for errors and for
// its end. However it ends, it releases what it set up (acquisition, event, condition, stream,
// buffers), so the camera can be captured again.
class capture_thread : public wxThread {
public:
    static constexpr int buffer_count = 20;

    // Neither the camera nor the frame buffer is owned; both outlive the thread.
    capture_thread(wxEvtHandler* owner, bool rotate180, CAM_HANDLE camera, frame_buffer& buffer,
                   seconds_clock clock = system_seconds);
    ~capture_thread() override;

    // Any thread, any moment: the pending or next wait returns at once; a request made before the
    // thread has created its condition ends the thread as soon as it has.
    void request_exit();

protected:
    ExitCode Entry() override;

private:
    void warn_of_small_receive_buffer();
    bool set_up();
    void run_loop();
    void handle_frame(std::uint64_t& frames);
    J_tIMAGE_INFO read_image_info(BUF_HANDLE buffer);
    void post_statistics();
    void post(const wxEventTypeTag<wxThreadEvent>& type, const wxString& text);

    wxEvtHandler* const owner_;
    const CAM_HANDLE camera_;
    frame_buffer& buffer_;
    const bool rotate_;
    std::int64_t start_time_ = 0;
    const seconds_clock clock_;
    // Hands the exit request over from the stopping thread; also keeps J_Event_ExitCondition off a
    // condition that is being closed. Declared before the stream, which publishes its condition
    // under it.
    std::mutex exit_mutex_;
    bool exit_requested_ = false;
    data_stream stream_;
};
