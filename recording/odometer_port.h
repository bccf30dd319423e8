#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/serial_port.hpp>
#include <wx/event.h>

#include "recording/odometer_decoder.h"

// The odometer's serial line on the write thread's event loop: one byte per read, both packet
// formats decoded, every count handed to the recorder. The first error (a failed read or one
// raised while handling a count) becomes an error row and ends reading for this recording.
// Lives as long as a read holds it; event-loop thread only.
class odometer_port : public std::enable_shared_from_this<odometer_port> {
public:
    using count_handler = std::function<void(std::uint32_t value, int kind)>;

    odometer_port(boost::asio::io_context& events, wxEvtHandler* owner, count_handler on_count);

    // Opens the device with the line settings; throws boost::system::system_error naming "open"
    // or "set_option".
    void open(const std::string& path);
    bool is_open() const { return port_.is_open(); }
    void start_reading();
    // Throws boost::system::system_error naming "close".
    void close();

private:
    void on_read(const boost::system::error_code& error, std::size_t transferred);
    void handle_byte();

    boost::asio::serial_port port_;
    wxEvtHandler* owner_;
    count_handler on_count_;
    odometer_decoder decoder_;
    std::uint8_t read_byte_ = 0;
};
