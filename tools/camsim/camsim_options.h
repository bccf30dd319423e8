#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Command line of tresvik-camsim. Pure.

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
    bool help = false;
};

// Reads "--name value" and "--name=value" arguments (the program name excluded). Returns an
// English error text, empty on success.
std::string parse_camsim_options(const std::vector<std::string>& arguments,
                                 camsim_options& options);

std::string camsim_usage();

// Whether text is a dotted IPv4 address in 127.0.0.0/8: the simulator answers on loopback only.
bool is_loopback_address(const std::string& text);
