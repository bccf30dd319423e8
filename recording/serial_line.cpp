#include "recording/serial_line.h"

std::string serial_device_path(const std::string& dpp_port) {
#ifdef _WIN32
    return "\\\\.\\" + dpp_port;
#else
    if (!dpp_port.empty() && dpp_port.front() == '/')
        return dpp_port;
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
