#include "camera/recording_grab.h"

#include <stdexcept>

#include "recording/write_thread.h"

continuous_grab_write::continuous_grab_write(wxEvtHandler* owner, session_store& sessions,
                                             const capture_settings& capture,
                                             const recording_settings& recording,
                                             camera_device& camera, seconds_clock clock)
    : capture_(owner, capture, camera, std::move(clock)) {
    frame_buffer& frames = capture_.buffer();
    writer_ = std::make_unique<write_thread>(owner, sessions, recording,
                                             [&frames](shared_frame& frame, std::uint64_t known) {
                                                 return frames.share_if_new(frame, known);
                                             });
    if (writer_->Run() != wxTHREAD_NO_ERROR)
        throw std::runtime_error("Error starting write thread");
}

continuous_grab_write::~continuous_grab_write() {
    writer_->stop();
    writer_->Wait();
}
