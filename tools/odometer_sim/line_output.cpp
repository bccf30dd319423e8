#include "tools/odometer_sim/line_output.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

#include "recording/serial_line.h"

namespace {
[[noreturn]] void throw_errno(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

// Raw 8N1 at 115200, so that a reader using plain read() gets the bytes unchanged.
void make_raw(int fd) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0)
        throw_errno("tcgetattr");
    cfmakeraw(&settings);
    cfsetispeed(&settings, B115200);
    cfsetospeed(&settings, B115200);
    settings.c_cflag |= CLOCAL | CREAD;
    if (tcsetattr(fd, TCSANOW, &settings) != 0)
        throw_errno("tcsetattr");
}
} // namespace

std::unique_ptr<line_output> line_output::open_pty() {
    std::unique_ptr<line_output> line(new line_output);
    if (openpty(&line->pty_master_, &line->pty_slave_, nullptr, nullptr, nullptr) != 0)
        throw_errno("openpty");
    make_raw(line->pty_slave_);
    const int flags = fcntl(line->pty_master_, F_GETFL);
    if (flags < 0 || fcntl(line->pty_master_, F_SETFL, flags | O_NONBLOCK) != 0)
        throw_errno("fcntl");
    line->reader_path_ = ptsname(line->pty_master_);
    line->write_fd_ = line->pty_master_;
    return line;
}

std::unique_ptr<line_output> line_output::open_device(const std::string& path) {
    std::unique_ptr<line_output> line(new line_output);
    line->device_ = std::make_unique<boost::asio::serial_port>(line->io_);
    open_odometer_port(*line->device_, path);
    line->reader_path_ = path;
    line->write_fd_ = line->device_->native_handle();
    return line;
}

line_output::~line_output() {
    if (pty_slave_ >= 0)
        close(pty_slave_);
    if (pty_master_ >= 0)
        close(pty_master_);
}

void line_output::send(const std::vector<std::uint8_t>& bytes,
                       const volatile std::sig_atomic_t& stop) {
    std::size_t done = 0;
    while (done < bytes.size() && !stop) {
        const ssize_t written = write(write_fd_, bytes.data() + done, bytes.size() - done);
        if (written > 0) {
            done += static_cast<std::size_t>(written);
        } else if (written < 0 && errno == EAGAIN) {
            if (!device_ || !wait_for_room(stop))
                return;
        } else if (written < 0 && errno != EINTR) {
            throw_errno("write");
        }
    }
}

bool line_output::wait_for_room(const volatile std::sig_atomic_t& stop) {
    pollfd entry{write_fd_, POLLOUT, 0};
    while (!stop) {
        const int ready = poll(&entry, 1, 100);
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            throw_errno("poll");
    }
    return false;
}
