#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/serial_port.hpp>
#include <boost/asio/steady_timer.hpp>
#include <wx/event.h>

#include "log/thread_events.h"
#include "recording/odometer_decoder.h"

// The odometer's serial line on the write thread's event loop: each read takes what has arrived
// (the line brings at most about 11,520 bytes a second, so a busy recorder finds a few dozen
// waiting instead of paying one read per byte); both packet formats are decoded byte by byte and
// every count is handed to the recorder as soon as its packet is complete. A line that fails (a USB
// adapter that drops out, a cable pulled) is reported, shown in the status field, and reopened
// every second until it is back; recording goes on from the first count after that. Repeated
// identical rows are written at most once a minute. Lives as long as a read or a reopen holds it;
// event-loop thread only.
class odometer_port : public std::enable_shared_from_this<odometer_port> {
public:
    // Handles its own failures: whatever it lets escape ends the event loop, and so the recording.
    using count_handler = std::function<void(std::uint32_t value, int kind)>;

    odometer_port(boost::asio::io_context& events, wxEvtHandler* owner, count_handler on_count);

    // Opens the device with the line settings; throws boost::system::system_error naming "open"
    // or "set_option".
    void open(const std::string& path);
    bool is_open() const { return port_.is_open(); }
    void start_reading();
    // Abandons the outstanding read or reopen. Throws boost::system::system_error naming "close".
    void close();

private:
    void on_read(const boost::system::error_code& error, std::size_t transferred);
    void handle_bytes(std::size_t count);
    void lose_line();
    void reopen_later();
    void reopen();

    boost::asio::serial_port port_;
    boost::asio::steady_timer reopen_timer_;
    wxEvtHandler* owner_;
    limited_log log_;
    count_handler on_count_;
    odometer_decoder decoder_;
    std::string path_;
    std::array<std::uint8_t, 64> read_bytes_{};
    bool closed_ = false;
};
