#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include <wx/thread.h>

#include "camera/grab_modes.h"

// Receives the camera's frames through its stream and keeps the newest in the frame buffer.
// Joinable; made, run, stopped (request_exit, Wait) and deleted by its grab mode on the recorder's
// thread. It talks to the owner only through queued thread events: a frame notice every 10th
// frame, statistics after every frame and every second without one, log rows for errors and for
// its end. A camera that stops answering is reported once, and the thread ends. However it ends,
// the stream goes, so the camera can be captured again.
class capture_thread : public wxThread {
public:
    static constexpr int buffer_count = 20;

    // Neither the camera nor the frame buffer is owned; both outlive the thread.
    capture_thread(wxEvtHandler* owner, const capture_settings& settings, camera_device& camera,
                   frame_buffer& buffer, seconds_clock clock = system_seconds);
    ~capture_thread() override;

    // Any thread, any moment: the thread ends within a tenth of a second, or right after set-up.
    void request_exit() { exit_requested_ = true; }

protected:
    ExitCode Entry() override;

private:
    void warn_of_small_receive_buffer();
    bool set_up();
    void run_loop();
    void handle_frame(const camera_frame& frame, std::uint64_t& frames);
    void post_statistics();
    void post(const wxEventTypeTag<wxThreadEvent>& type, const wxString& text);

    wxEvtHandler* const owner_;
    camera_device& camera_;
    frame_buffer& buffer_;
    const capture_settings settings_;
    std::int64_t start_time_ = 0;
    const seconds_clock clock_;
    std::atomic<bool> exit_requested_{false};
    std::unique_ptr<camera_stream> stream_;
    bool camera_started_ = false;
};
