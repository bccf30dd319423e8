#include "tools/camsim/camsim_options.h"

#include <arpa/inet.h>

#include <cstdlib>
#include <functional>
#include <map>

namespace {

bool read_number(const std::string& text, double low, double high, double& value) {
    if (text.empty())
        return false;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return *end == '\0' && value >= low && value <= high;
}

bool read_whole(const std::string& text, std::uint32_t low, std::uint32_t high,
                std::uint32_t& value) {
    double number = 0;
    if (text.find_first_not_of("0123456789") != std::string::npos ||
        !read_number(text, low, high, number))
        return false;
    value = static_cast<std::uint32_t>(number);
    return true;
}

using setter = std::function<bool(const std::string&, camsim_options&)>;

const std::map<std::string, setter>& setters() {
    static const std::map<std::string, setter> table = {
        {"--serial",
         [](const std::string& v, camsim_options& o) {
             o.serial = v;
             return !v.empty() && v.size() < 16;
         }},
        {"--address",
         [](const std::string& v, camsim_options& o) {
             o.address = v;
             return is_loopback_address(v);
         }},
        {"--width",
         [](const std::string& v, camsim_options& o) { return read_whole(v, 8, 8192, o.width); }},
        {"--height",
         [](const std::string& v, camsim_options& o) { return read_whole(v, 8, 8192, o.height); }},
        {"--fps",
         [](const std::string& v, camsim_options& o) { return read_number(v, 0.1, 1000, o.fps); }},
        {"--speed",
         [](const std::string& v, camsim_options& o) { return read_whole(v, 0, 8192, o.speed); }},
        {"--pixel-format",
         [](const std::string& v, camsim_options& o) {
             o.pixel_format = v == "Mono16" ? pixel_format_mono16 : pixel_format_mono8;
             return v == "Mono8" || v == "Mono16";
         }},
    };
    return table;
}

} // namespace

std::string parse_camsim_options(const std::vector<std::string>& arguments,
                                 camsim_options& options) {
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string name = arguments[i], value;
        if (name == "--help" || name == "--stamp") {
            (name == "--help" ? options.help : options.stamp) = true;
            continue;
        }
        const std::size_t equals = name.find('=');
        if (equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.erase(equals);
        } else if (i + 1 < arguments.size()) {
            value = arguments[++i];
        }
        const auto found = setters().find(name);
        if (found == setters().end())
            return "unknown option " + name;
        if (!found->second(value, options))
            return "invalid value for " + name + ": \"" + value + "\"";
    }
    return {};
}

std::string camsim_usage() {
    return "Usage: tresvik-camsim [options]\n"
           "A GigE Vision camera on loopback that films the track under a moving car.\n"
           "  --serial TEXT          serial number, 1-15 characters (default CS01)\n"
           "  --address A.B.C.D      loopback address to answer on, 127.x.x.x (default "
           "127.0.0.1);\n"
           "                         one camera per address\n"
           "  --width N, --height N  frame size in pixels, 8-8192 (default 1024 x 768)\n"
           "  --fps F                frames per second, 0.1-1000 (default 25)\n"
           "  --speed N              pixels the scene moves per frame (default 16)\n"
           "  --pixel-format NAME    Mono8 or Mono16 (default Mono8)\n"
           "  --stamp                draw each frame's number as black and white cells in its\n"
           "                         top-left corner (576 x 32 pixels); frames are numbered from "
           "1\n"
           "                         since the simulator started, across acquisition restarts, so\n"
           "                         the number also fixes the frame's place on the track\n"
           "  --help                 this text\n"
           "Stops cleanly on SIGINT or SIGTERM.\n";
}

bool is_loopback_address(const std::string& text) {
    in_addr address{};
    if (inet_pton(AF_INET, text.c_str(), &address) != 1)
        return false;
    return (ntohl(address.s_addr) >> 24) == 127;
}
