#pragma once

#include <memory>

#include "camera/grab_modes.h"

class session_store;
class write_thread;
struct recording_settings;

// Live view with recording: the capture as in live view, and the write thread storing the newest
// frame on every odometer count. The camera must stay open for its whole life. Nothing is drawn
// over the live image while recording, so the capture's side goes unused.
class continuous_grab_write : public frame_source {
public:
    // owner receives the events of both threads. Records into the store's current session; the
    // store must outlive the mode.
    continuous_grab_write(wxEvtHandler* owner, session_store& sessions,
                          const capture_settings& capture, const recording_settings& recording,
                          camera_device& camera, seconds_clock clock = system_seconds);
    // Stops the write thread before the capture, so that no count meets a stopped camera and the
    // frame the recorder holds is let go before the frame buffer goes.
    ~continuous_grab_write() override;

    frame_buffer& buffer() override { return capture_.buffer(); }
    wxString overlay_text() override { return overlay_; }

private:
    capture_session capture_;
    std::unique_ptr<write_thread> writer_;
    const wxString overlay_;
};
