#include "recording/serial_line.h"

#ifndef _WIN32
#include <strings.h>
#endif

#ifndef _WIN32
namespace {
// The number n of a Windows port name "COMn" (any case), n from 1; 0 for any other name.
unsigned long windows_port_number(const std::string& name) {
    if (name.size() < 4 || name.size() > 6 || strncasecmp(name.c_str(), "COM", 3) != 0)
        return 0;
    if (name.find_first_not_of("0123456789", 3) != std::string::npos || name[3] == '0')
        return 0;
    return std::stoul(name.substr(3));
}
} // namespace
#endif

std::string serial_device_path(const std::string& dpp_port) {
#ifdef _WIN32
    return "\\\\.\\" + dpp_port;
#else
    if (!dpp_port.empty() && dpp_port.front() == '/')
        return dpp_port;
    if (const unsigned long number = windows_port_number(dpp_port))
        return "/dev/ttyS" + std::to_string(number - 1);
    return "/dev/" + dpp_port;
#endif
}

void apply_line_settings(boost::asio::serial_port& port) {
    using base = boost::asio::serial_port_base;
    port.set_option(base::baud_rate(115200));
    port.set_option(base::flow_control(base::flow_control::none));
    port.set_option(base::parity(base::parity::none));
    port.set_option(base::character_size(8));
    port.set_option(base::stop_bits(base::stop_bits::one));
}

void open_odometer_port(boost::asio::serial_port& port, const std::string& path) {
    port.open(path);
    apply_line_settings(port);
}
