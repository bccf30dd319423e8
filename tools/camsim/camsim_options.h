#pragma once

#include <cstdint>
#include <string>

// Command line of tresvik-camsim.

namespace CLI {
class App;
}

constexpr std::uint32_t pixel_format_mono8 = 0x01080001;
constexpr std::uint32_t pixel_format_mono16 = 0x01100007;

struct camsim_options {
    std::string serial = "CS01";
    std::string address = "127.0.0.1";
    std::uint32_t width = 1024;
    std::uint32_t height = 768;
    double fps = 25.0;
    std::uint32_t speed = 16; // pixels the scene moves per frame
    std::uint32_t pixel_format = pixel_format_mono8;
    bool stamp = false; // draw each frame's number (frame_stamp.h) into its top-left corner
    std::uint32_t lose_packets = 0; // image data packets lost per thousand sent
};

// The options, read into options by the app's parse (tools/common/command_line.h).
void add_camsim_options(CLI::App& app, camsim_options& options);

// Whether text is a dotted IPv4 address in 127.0.0.0/8: the simulator answers on loopback only.
bool is_loopback_address(const std::string& text);
