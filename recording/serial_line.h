#pragma once

#include <string>

#include <boost/asio/serial_port.hpp>

// The device path of the odometer port named by the setting dpp_port: "\\.\COM1" on Windows; on
// POSIX the setting itself when it is an absolute path, a Windows name "COMn" (the default COM1)
// as the n-th serial port /dev/ttyS(n-1), else the name under /dev.
std::string serial_device_path(const std::string& dpp_port);

// Applies the odometer's line settings to an open port, in this order: 115200 baud, no flow
// control, no parity, 8 data bits, one stop bit. Throws boost::system::system_error whose text
// starts with "set_option".
void apply_line_settings(boost::asio::serial_port& port);

// Opens the port on path and applies the line settings. Throws boost::system::system_error whose
// text names the failing operation, "open" or "set_option", and the system's reason.
void open_odometer_port(boost::asio::serial_port& port, const std::string& path);
