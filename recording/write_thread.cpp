#include "recording/write_thread.h"

#include <filesystem>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>
#include <boost/system/system_error.hpp>

#include "base/encoding.h"
#include "log/thread_events.h"
#include "recording/coordinate_client.h"
#include "recording/odometer_port.h"
#include "recording/serial_line.h"

namespace {
void post_error(wxEvtHandler* owner, const char* text) {
    post_thread_event(owner, EVT_THREAD_LOG_ERROR, readable_text(text));
}

// A line lost has put its own status in place of the count's, which must not cover it.
bool line_is_up(const std::weak_ptr<odometer_port>& port) {
    const auto line = port.lock();
    return line && line->is_open();
}
} // namespace

write_thread::write_thread(wxEvtHandler* owner, session_store& sessions,
                           const recording_settings& settings, frame_snapshot source)
    : wxThread(wxTHREAD_JOINABLE), owner_(owner), session_(sessions.current_session()),
      settings_(settings), source_(std::move(source)) {
    settings_.dpp_port = serial_device_path(settings.dpp_port);
    std::error_code ignored; // a folder that cannot be made fails the first session's open
    std::filesystem::create_directories(settings_.write_path, ignored);
}

write_thread::~write_thread() = default;

void write_thread::stop() {
    events_.stop();
}

// Whatever way the loops end, the session being recorded is closed, so that nobody (telemetry,
// the data service) takes a dead recorder for a recording one. The step and the intake outlive
// both loops and every handler left in them.
wxThread::ExitCode write_thread::Entry() {
    wxThread::SetNameForCurrent("recorder"); // found by name in /proc by diagnosis and benchmarks
    recording_step step(owner_, session_, settings_.write_path, local_time_now,
                        settings_.before_new_session);
    count_intake intake(owner_, session_, source_);
    std::weak_ptr<odometer_port> line;
    auto port = std::make_shared<odometer_port>(
        counts_, owner_, [this, &step, &intake, &line](std::uint32_t value, int kind) {
            if (auto work = intake.take(value, kind))
                hand_over(std::move(*work), step, intake, line);
            post_held_status_later(intake, line);
        });
    line = port;
    auto client = std::make_shared<coordinate_client>(
        events_, owner_, session_, settings_.server_address, settings_.server_port, settings_.side);
    ExitCode result = 0;
    try {
        serve(port, client);
    } catch (const std::exception& e) {
        post_error(owner_, e.what());
        result = reinterpret_cast<ExitCode>(-1);
    } catch (...) {
        post_error(owner_, "Unknown exception in write thread");
        result = reinterpret_cast<ExitCode>(-1);
    }
    stop_counting();
    release(port, client);
    session_.close();
    return result;
}

void write_thread::serve(const std::shared_ptr<odometer_port>& port,
                         const std::shared_ptr<coordinate_client>& client) {
    port->open(settings_.dpp_port);
    post_thread_event(owner_, EVT_THREAD_LOG_INFO,
                      L"Последовательный порт: " + readable_text(settings_.dpp_port));
    port->start_reading();
    client->start();
    const auto keep_running = boost::asio::make_work_guard(events_);
    counting_ = std::thread([this] { count_loop(); });
    events_.run();
}

// Whatever escapes the odometer's handlers ends this thread's loop too, as it ends the recording.
void write_thread::count_loop() {
    wxThread::SetNameForCurrent("odometer");
    const auto keep_running = boost::asio::make_work_guard(counts_);
    try {
        counts_.run();
    } catch (...) {
        boost::asio::post(events_,
                          [error = std::current_exception()] { std::rethrow_exception(error); });
    }
}

void write_thread::stop_counting() {
    counts_.stop();
    if (counting_.joinable())
        counting_.join();
}

// Lets the abandoned handlers run (they see operation_aborted), so that the port and the client
// are destroyed here, on this thread, before the loops go; counts handed over are stored.
void write_thread::release(const std::shared_ptr<odometer_port>& port,
                           const std::shared_ptr<coordinate_client>& client) {
    try {
        if (port->is_open())
            port->close();
    } catch (const std::exception& e) {
        post_error(owner_, e.what());
    }
    client->stop();
    status_timer_.cancel();
    events_.restart();
    counts_.restart();
    drain(events_);
    drain(counts_);
}

// What the odometer thread let escape while the loops were stopping comes here, too late to end
// them: it is only reported, and the handlers after it still run.
void write_thread::drain(boost::asio::io_context& loop) {
    for (bool done = false; !done;) {
        try {
            loop.poll();
            done = true;
        } catch (const std::exception& e) {
            post_error(owner_, e.what());
        } catch (...) {
            post_error(owner_, "Unknown exception in write thread");
        }
    }
}

// Once the frame is stored the status shows it, unless the line was lost meanwhile.
void write_thread::hand_over(count_work work, recording_step& step, count_intake& intake,
                             const std::weak_ptr<odometer_port>& port) {
    boost::asio::post(events_, [this, work = std::move(work), &step, &intake, port] {
        step.store(work);
        if (!work.frame)
            return;
        intake.frame_done();
        boost::asio::post(counts_, [this, &intake, port] {
            if (!line_is_up(port))
                return;
            intake.refresh_status();
            post_held_status_later(intake, port);
        });
    });
}

void write_thread::post_held_status_later(count_intake& intake,
                                          const std::weak_ptr<odometer_port>& port) {
    if (status_timer_armed_ || !intake.holds_status())
        return;
    status_timer_armed_ = true;
    status_timer_.expires_after(count_intake::status_interval);
    status_timer_.async_wait([this, &intake, port](const boost::system::error_code& error) {
        status_timer_armed_ = false;
        if (!error && line_is_up(port))
            intake.post_held_status();
    });
}
