#include "recording/serial_line.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/read.hpp>
#include <boost/system/system_error.hpp>
#include <gtest/gtest.h>

namespace {
// A pty pair whose slave starts with line settings unlike the odometer's, so that a set-up that
// leaves any of them alone shows.
struct pty_pair {
    pty_pair() {
        EXPECT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0) << std::strerror(errno);
        termios settings{};
        tcgetattr(slave, &settings);
        cfsetispeed(&settings, B9600);
        cfsetospeed(&settings, B9600);
        settings.c_cflag = (settings.c_cflag & ~CSIZE) | CS7 | PARENB | CSTOPB | CRTSCTS;
        settings.c_iflag |= IXON | IXOFF;
        EXPECT_EQ(tcsetattr(slave, TCSANOW, &settings), 0);
    }
    ~pty_pair() {
        close(slave);
        close(master);
    }
    std::string slave_path() const { return ptsname(master); }

    int master = -1;
    int slave = -1;
};

std::string open_error(const std::string& path) {
    boost::asio::io_context io;
    boost::asio::serial_port port(io);
    try {
        open_odometer_port(port, path);
    } catch (const boost::system::system_error& e) {
        return e.what();
    }
    return "no error";
}
} // namespace

TEST(serial_line, device_path_maps_windows_names_keeps_absolute_paths_else_under_dev) {
    const std::pair<const char*, const char*> cases[] = {
        {"COM1", "/dev/ttyS0"},
        {"COM2", "/dev/ttyS1"},
        {"com12", "/dev/ttyS11"},
        {"COM0", "/dev/COM0"},
        {"COM", "/dev/COM"},
        {"COM1a", "/dev/COM1a"},
        {"ttyS0", "/dev/ttyS0"},
        {"ttyUSB1", "/dev/ttyUSB1"},
        {"pts/3", "/dev/pts/3"},
        {"/dev/pts/7", "/dev/pts/7"},
        {"/tmp/odometer", "/tmp/odometer"},
    };
    for (const auto& [setting, path] : cases)
        EXPECT_EQ(serial_device_path(setting), path) << setting;
}

// Raw as a serial line must be: control characters and line ends pass unchanged.
TEST(serial_line, open_applies_the_five_line_settings_and_reads_bytes_unchanged) {
    pty_pair pty;
    boost::asio::io_context io;
    boost::asio::serial_port port(io);
    open_odometer_port(port, pty.slave_path());
    termios settings{};
    ASSERT_EQ(tcgetattr(port.native_handle(), &settings), 0);
    EXPECT_EQ(cfgetispeed(&settings), speed_t(B115200));
    EXPECT_EQ(cfgetospeed(&settings), speed_t(B115200));
    EXPECT_EQ(settings.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(settings.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
    EXPECT_EQ(settings.c_iflag & (IXON | IXOFF), tcflag_t(0));
    const std::array<std::uint8_t, 8> sent = {0x53, 0x04, 0x0D, 0x0A, 0x11, 0x13, 0x03, 0xFF};
    ASSERT_EQ(write(pty.master, sent.data(), sent.size()), ssize_t(sent.size()));
    std::array<std::uint8_t, 8> received{};
    boost::asio::read(port, boost::asio::buffer(received));
    EXPECT_EQ(received, sent);
}

TEST(serial_line, open_errors_name_open_and_the_reason) {
    EXPECT_EQ(open_error("/dev/tresvik-no-such-port"),
              std::string("open: ") + std::strerror(ENOENT));
    EXPECT_EQ(open_error("/dev/null"), std::string("open: ") + std::strerror(ENOTTY));
}

TEST(serial_line, setting_error_names_set_option_and_the_reason) {
    boost::asio::io_context io;
    boost::asio::serial_port port(io);
    port.assign(::open("/dev/null", O_RDWR));
    try {
        apply_line_settings(port);
        FAIL() << "settings applied to a device that is no terminal";
    } catch (const boost::system::system_error& e) {
        EXPECT_EQ(std::string(e.what()), std::string("set_option: ") + std::strerror(ENOTTY));
    }
}
