#include "recording/odometer_port.h"

#include <boost/asio/read.hpp>
#include <boost/system/system_error.hpp>

#include "log/thread_events.h"
#include "recording/serial_line.h"

odometer_port::odometer_port(boost::asio::io_context& events, wxEvtHandler* owner,
                             count_handler on_count)
    : port_(events), owner_(owner), on_count_(std::move(on_count)) {}

void odometer_port::open(const std::string& path) {
    open_odometer_port(port_, path);
}

void odometer_port::start_reading() {
    port_.async_read_some(boost::asio::buffer(&read_byte_, 1),
                          [self = shared_from_this()](const boost::system::error_code& error,
                                                      std::size_t transferred) {
                              self->on_read(error, transferred);
                          });
}

void odometer_port::close() {
    boost::system::error_code error;
    port_.close(error);
    if (error)
        throw boost::system::system_error(error, "close");
}

// Shutdown abandons the outstanding read, and a read that completed just before the port was
// closed must not start another on the closed port: neither is an error to report.
void odometer_port::on_read(const boost::system::error_code& error, std::size_t transferred) {
    if (error == boost::asio::error::operation_aborted || !port_.is_open())
        return;
    try {
        if (error || transferred != 1)
            throw std::runtime_error("Error reading serial serial_port.");
        handle_byte();
    } catch (const std::exception& e) {
        post_thread_event(owner_, EVT_THREAD_LOG_ERROR, wxString(e.what(), *wxConvCurrent));
        return;
    }
    start_reading();
}

void odometer_port::handle_byte() {
    for (const odometer_count& count : decoder_.push(read_byte_))
        on_count_(count.value, count.kind);
}
