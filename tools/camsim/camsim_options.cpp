#include "tools/camsim/camsim_options.h"

#include <arpa/inet.h>

#include "tools/common/command_line.h"

namespace {
CLI::Validator loopback_address() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            return is_loopback_address(text) ? "" : "not a loopback address: \"" + text + "\"";
        },
        "127.x.x.x");
}
} // namespace

void add_camsim_options(CLI::App& app, camsim_options& options) {
    app.add_option("--serial", options.serial, "serial number")
        ->check(byte_length(1, 15))
        ->type_name("TEXT")
        ->capture_default_str();
    app.add_option("--address", options.address,
                   "loopback address to answer on; one camera per address")
        ->check(loopback_address())
        ->type_name("A.B.C.D")
        ->capture_default_str();
    add_number(app, "--width", options.width, 8, 8192, "frame width in pixels");
    add_number(app, "--height", options.height, 8, 8192, "frame height in pixels");
    add_number(app, "--fps", options.fps, 0.1, 1000, "frames per second")->type_name("F");
    add_number(app, "--speed", options.speed, 0, 8192, "pixels the scene moves per frame");
    add_choice(app, "--pixel-format", options.pixel_format,
               {{"Mono8", pixel_format_mono8}, {"Mono16", pixel_format_mono16}}, "pixel format");
    app.add_flag("--stamp", options.stamp,
                 "draw each frame's number as black and white cells in its\n"
                 "top-left corner (576 x 32 pixels); frames are numbered from 1\n"
                 "since the simulator started, across acquisition restarts, so\n"
                 "the number also fixes the frame's place on the track");
    add_number(app, "--lose-packets", options.lose_packets, 0, 1000,
               "image data packets lost per thousand sent");
}

bool is_loopback_address(const std::string& text) {
    in_addr address{};
    if (inet_pton(AF_INET, text.c_str(), &address) != 1)
        return false;
    return (ntohl(address.s_addr) >> 24) == 127;
}
