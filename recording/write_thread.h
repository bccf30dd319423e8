#pragma once

#include <memory>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <wx/event.h>
#include <wx/thread.h>

#include "recording/recording_step.h"

class odometer_port;
class coordinate_client;

// The recorder: one event loop serving the odometer's serial port, whose counts drive recording
// into the store's current session, and the coordinate server client, which names and closes
// sessions. Once the port has opened, failing peers (the line, the server, the disk) are reported
// and retried while the loop runs on; only a port that cannot be opened at the start ends it.
// Joinable; its grab mode makes it, calls Run(), later stop() and Wait(), and deletes it. Only the
// event loop's thread touches the port, the client and the session's writes.
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
    void release(const std::shared_ptr<odometer_port>& port,
                 const std::shared_ptr<coordinate_client>& client);
    void post_held_status_later(recording_step& step, const std::weak_ptr<odometer_port>& port);

    wxEvtHandler* owner_;
    session_writer& session_;
    recording_settings settings_; // its dpp_port as the device path
    frame_snapshot source_;
    boost::asio::io_context events_;
    boost::asio::steady_timer status_timer_{events_}; // armed while a count's status is held
    bool status_timer_armed_ = false;
};
