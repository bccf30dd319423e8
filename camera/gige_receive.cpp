#include "camera/gige_receive.h"

#include <fstream>

namespace {
constexpr std::uint64_t mebibyte = 1024 * 1024;
}

std::string receive_buffer_warning(std::uint64_t rmem_max, std::uint64_t frame_bytes) {
    if (rmem_max == 0 || rmem_max >= frame_bytes)
        return {};
    const std::string advised =
        "net.core.rmem_max=" + std::to_string((frame_bytes + mebibyte - 1) / mebibyte * mebibyte);
    return "The kernel limits socket receive buffers to " + std::to_string(rmem_max) +
           " bytes (setting net.core.rmem_max), less than one frame of " +
           std::to_string(frame_bytes) +
           " bytes: frames may arrive incomplete when the computer is busy. To raise the limit, "
           "run as root \"sysctl -w " +
           advised + "\"; to keep it after a restart, add the line \"" + advised +
           "\" to a file in /etc/sysctl.d/, for example /etc/sysctl.d/60-tresvik.conf.";
}

std::uint64_t read_rmem_max_from(const std::string& path) {
    std::ifstream in(path);
    std::uint64_t value = 0;
    if (!(in >> value))
        return 0;
    return value;
}

std::uint64_t read_rmem_max() {
    return read_rmem_max_from("/proc/sys/net/core/rmem_max");
}
