#pragma once

#include <cerrno>
#include <cstring>
#include <sched.h>
#include <stdexcept>
#include <string>
#include <sys/mount.h>

// A small volume of the test's own: a tmpfs mounted in a mount namespace of this thread's own,
// so that nothing of it shows outside; threads this thread starts afterwards see it too (the
// tests run as root), but none started before, such as the session engine's one background
// thread once a session was open: one volume a test process.
class small_volume {
public:
    small_volume(const std::string& at, const std::string& size) : at_(at) {
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", at.c_str(), "tmpfs", 0, ("size=" + size).c_str()) != 0)
            throw std::runtime_error(std::string("no tmpfs of the test's own: ") +
                                     std::strerror(errno));
    }
    ~small_volume() { umount2(at_.c_str(), MNT_DETACH); }

private:
    std::string at_;
};
