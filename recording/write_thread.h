#pragma once

#include <memory>
#include <string>
#include <thread>

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <wx/event.h>
#include <wx/thread.h>

#include "recording/recording_step.h"

class odometer_port;
class coordinate_client;

// The recorder: an event loop on this thread serving the coordinate server client, which names
// and closes sessions, and storing what the odometer's counts hand over; and a second loop, on an
// "odometer" thread it starts, serving the odometer's serial port and the record status, so that
// counts are taken (each with the newest camera frame) as they arrive, whatever the disk is doing.
// Once the port has opened, failing peers (the line, the server, the disk) are reported and
// retried while the loops run on; only a port that cannot be opened at the start ends them.
// Joinable; its grab mode makes it, calls Run(), later stop() and Wait(), and deletes it. Only
// this thread touches the client and the session's writes; only the odometer thread the port.
class write_thread : public wxThread {
public:
    // Creates the write path when missing. The owner receives the thread's events; it and the
    // store must outlive the thread.
    write_thread(wxEvtHandler* owner, session_store& sessions, const recording_settings& settings,
                 frame_snapshot source);
    ~write_thread() override;

    // Thread-safe: ends the event loop; the owner then waits for the thread.
    void stop();

protected:
    ExitCode Entry() override;

private:
    void serve(const std::shared_ptr<odometer_port>& port,
               const std::shared_ptr<coordinate_client>& client);
    void count_loop();
    void stop_counting();
    void release(const std::shared_ptr<odometer_port>& port,
                 const std::shared_ptr<coordinate_client>& client);
    void drain(boost::asio::io_context& loop);
    void hand_over(count_work work, recording_step& step, count_intake& intake,
                   const std::weak_ptr<odometer_port>& port);
    void post_held_status_later(count_intake& intake, const std::weak_ptr<odometer_port>& port);

    wxEvtHandler* owner_;
    session_writer& session_;
    recording_settings settings_; // its dpp_port as the device path
    frame_snapshot source_;
    boost::asio::io_context events_;                  // this thread's
    boost::asio::io_context counts_;                  // the odometer thread's
    boost::asio::steady_timer status_timer_{counts_}; // armed while a count's status is held
    bool status_timer_armed_ = false;
    std::thread counting_;
};
