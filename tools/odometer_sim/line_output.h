#pragma once

#include <csignal>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/serial_port.hpp>

// The sending end of an odometer line: a serial device, or the master of a pty pair made here.
// Owns its descriptors; used from one thread.
class line_output {
public:
    // The slave stays open here as well, so readers may open and close it while this runs.
    static std::unique_ptr<line_output> open_pty();
    // Applies the odometer's line settings; throws boost::system::system_error.
    static std::unique_ptr<line_output> open_device(const std::string& path);
    ~line_output();

    // The path a reader opens.
    const std::string& reader_path() const { return reader_path_; }

    // A pty drops what its full buffer cannot take, as a line nobody listens to would; a device
    // waits for room. Either gives up once stop is set. Throws std::system_error.
    void send(const std::vector<std::uint8_t>& bytes, const volatile std::sig_atomic_t& stop);

private:
    line_output() = default;
    bool wait_for_room(const volatile std::sig_atomic_t& stop);

    boost::asio::io_context io_;
    std::unique_ptr<boost::asio::serial_port> device_;
    int write_fd_ = -1;
    int pty_master_ = -1;
    int pty_slave_ = -1;
    std::string reader_path_;
};
