#include "camera/grab_modes.h"

#include <stdexcept>

#include "camera/capture_thread.h"

capture_session::capture_session(wxEvtHandler* owner, const capture_settings& settings,
                                 camera_device& camera, seconds_clock clock)
    : buffer_(camera), thread_(std::make_unique<capture_thread>(owner, settings, camera, buffer_,
                                                                std::move(clock))) {
    if (thread_->Create() != wxTHREAD_NO_ERROR)
        throw std::runtime_error("Error starting capture thread");
    thread_->SetPriority(wxPRIORITY_MAX);
    if (thread_->Run() != wxTHREAD_NO_ERROR)
        throw std::runtime_error("Error starting capture thread");
}

capture_session::~capture_session() {
    thread_->request_exit();
    thread_->Wait();
}

continuous_grab::continuous_grab(wxEvtHandler* owner, const capture_settings& settings,
                                 camera_device& camera, seconds_clock clock)
    : capture_(owner, settings, camera, std::move(clock)), overlay_(settings.side) {}
