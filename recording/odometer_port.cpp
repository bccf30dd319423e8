#include "recording/odometer_port.h"

#include <chrono>

#include <boost/asio/read.hpp>
#include <boost/system/system_error.hpp>

#include "base/encoding.h"
#include "recording/serial_line.h"

namespace {
// A dropped adapter usually comes back within a second or two; trying more often gains nothing.
constexpr std::chrono::seconds reopen_pause{1};
} // namespace

odometer_port::odometer_port(boost::asio::io_context& events, wxEvtHandler* owner,
                             count_handler on_count)
    : port_(events), reopen_timer_(events), owner_(owner), log_(owner),
      on_count_(std::move(on_count)) {}

void odometer_port::open(const std::string& path) {
    path_ = path;
    open_odometer_port(port_, path);
}

void odometer_port::start_reading() {
    port_.async_read_some(boost::asio::buffer(read_bytes_),
                          [self = shared_from_this()](const boost::system::error_code& error,
                                                      std::size_t transferred) {
                              self->on_read(error, transferred);
                          });
}

void odometer_port::close() {
    closed_ = true;
    reopen_timer_.cancel();
    boost::system::error_code error;
    port_.close(error);
    if (error)
        throw boost::system::system_error(error, "close");
}

// Shutdown abandons the outstanding read, and a read that completed just before the port was
// closed must not start another on the closed port: neither is an error to report.
void odometer_port::on_read(const boost::system::error_code& error, std::size_t transferred) {
    if (error == boost::asio::error::operation_aborted || closed_)
        return;
    if (error || transferred == 0)
        return lose_line();
    handle_bytes(transferred);
    start_reading();
}

void odometer_port::handle_bytes(std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        for (const odometer_count& found : decoder_.push(read_bytes_[i]))
            on_count_(found.value, found.kind);
}

// The decoder keeps what it had: bytes of a packet cut by the loss simply match nothing.
void odometer_port::lose_line() {
    log_.error("Error reading serial serial_port.");
    post_report(owner_, EVT_THREAD_RECORD_STATUS, record_status{0, 0, 0, path_});
    boost::system::error_code ignored;
    port_.close(ignored);
    reopen_later();
}

void odometer_port::reopen_later() {
    reopen_timer_.expires_after(reopen_pause);
    reopen_timer_.async_wait([self = shared_from_this()](const boost::system::error_code& error) {
        if (error != boost::asio::error::operation_aborted && !self->closed_)
            self->reopen();
    });
}

void odometer_port::reopen() {
    try {
        open_odometer_port(port_, path_);
    } catch (const boost::system::system_error& e) {
        boost::system::error_code ignored;
        port_.close(ignored);
        log_.error(readable_text(e.what()));
        return reopen_later();
    }
    log_.info(L"Последовательный порт: " + readable_text(path_));
    start_reading();
}
