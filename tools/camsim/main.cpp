// tresvik-camsim: a GigE Vision camera on a loopback address, built on Aravis's simulated camera
// and put on the network by gv_camera, that films the track under a moving car (scene.h). Field
// engineers and the tests use it in place of the real camera.

#include <arv.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <stdexcept>

#include <opencv2/core/mat.hpp>

#include "tools/camsim/camsim_options.h"
#include "tools/camsim/frame_stamp.h"
#include "tools/camsim/gv_camera.h"
#include "tools/camsim/scene.h"
#include "tools/common/command_line.h"

namespace {

// A spare register of the simulated camera's map, described in tresvik-camsim.xml.
constexpr guint32 exposure_mode_register = 0x150;
// GigE Vision bootstrap registers, 32 bytes each.
constexpr guint32 vendor_name_register = 0x48;
constexpr guint32 model_name_register = 0x68;

// Used only by the thread that runs the camera.
struct scene_state {
    ArvFakeCamera* camera = nullptr;
    std::uint32_t speed = 0;
    bool stamp = false;
    std::uint64_t frames = 0; // drawn since start; the number of the next frame less one
    // Remade when the frame size changes.
    std::unique_ptr<scene_renderer> renderer;
};

scene_renderer& renderer_for(scene_state& state, std::uint32_t width, std::uint32_t height) {
    if (!state.renderer || state.renderer->width() != width || state.renderer->height() != height)
        state.renderer = std::make_unique<scene_renderer>(width, height);
    return *state.renderer;
}

void fill_scene(ArvBuffer* buffer, void* data, guint32, guint32, ArvPixelFormat pixel_format) {
    auto& state = *static_cast<scene_state*>(data);
    const auto width = static_cast<std::uint32_t>(arv_buffer_get_image_width(buffer));
    const auto height = static_cast<std::uint32_t>(arv_buffer_get_image_height(buffer));
    // The buffer reports no size while it is being filled; the simulated camera allocates it
    // with its payload size.
    const size_t size = arv_fake_camera_get_payload(state.camera);
    void* pixels = const_cast<void*>(arv_buffer_get_data(buffer, nullptr));
    guint32 exposure_mode = 0;
    arv_fake_camera_read_register(state.camera, exposure_mode_register, &exposure_mode);
    const double brightness = exposure_brightness(exposure_mode);
    const std::uint64_t start = state.frames++ * state.speed;
    const std::size_t pixel_count = std::size_t{width} * height;
    const int rows = static_cast<int>(height), columns = static_cast<int>(width);
    cv::Mat frame;
    if (pixel_format == ARV_PIXEL_FORMAT_MONO_16 && size >= pixel_count * 2) {
        auto* wide = static_cast<std::uint16_t*>(pixels);
        renderer_for(state, width, height).draw_mono16(wide, start, brightness);
        frame = cv::Mat(rows, columns, CV_16UC1, wide);
    } else if (pixel_format == ARV_PIXEL_FORMAT_MONO_8 && size >= pixel_count) {
        auto* narrow = static_cast<std::uint8_t*>(pixels);
        renderer_for(state, width, height).draw_mono8(narrow, start, brightness);
        frame = cv::Mat(rows, columns, CV_8UC1, narrow);
    }
    if (state.stamp && !frame.empty())
        draw_frame_stamp(frame, static_cast<std::uint32_t>(state.frames));
}

// Another simulator bound to the address would share its control port and answer in its place.
bool address_taken(const std::string& address) {
    const int probe = socket(AF_INET, SOCK_DGRAM, 0);
    if (probe < 0)
        return false;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(gige::control_port);
    inet_pton(AF_INET, address.c_str(), &local.sin_addr);
    const bool taken =
        bind(probe, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 && errno == EADDRINUSE;
    close(probe);
    return taken;
}

void write_name(ArvFakeCamera* camera, guint32 address, const char* name) {
    char field[32] = {};
    std::strncpy(field, name, sizeof field - 1);
    arv_fake_camera_write_memory(camera, address, sizeof field, field);
}

void configure(ArvFakeCamera* camera, const camsim_options& options, scene_state& state) {
    write_name(camera, vendor_name_register, "Tresvik");
    write_name(camera, model_name_register, "Tresvik-CamSim");
    arv_fake_camera_write_register(
        camera, ARV_FAKE_CAMERA_REGISTER_SENSOR_WIDTH,
        std::max<std::uint32_t>(options.width, ARV_FAKE_CAMERA_SENSOR_WIDTH));
    arv_fake_camera_write_register(
        camera, ARV_FAKE_CAMERA_REGISTER_SENSOR_HEIGHT,
        std::max<std::uint32_t>(options.height, ARV_FAKE_CAMERA_SENSOR_HEIGHT));
    arv_fake_camera_write_register(camera, ARV_FAKE_CAMERA_REGISTER_WIDTH, options.width);
    arv_fake_camera_write_register(camera, ARV_FAKE_CAMERA_REGISTER_HEIGHT, options.height);
    arv_fake_camera_write_register(camera, ARV_FAKE_CAMERA_REGISTER_PIXEL_FORMAT,
                                   options.pixel_format);
    arv_fake_camera_write_register(camera, ARV_FAKE_CAMERA_REGISTER_ACQUISITION_FRAME_PERIOD_US,
                                   static_cast<guint32>(1e6 / options.fps + 0.5));
    arv_fake_camera_write_register(camera, exposure_mode_register, 0);
    state.camera = camera;
    state.speed = options.speed;
    state.stamp = options.stamp;
    arv_fake_camera_set_fill_pattern(camera, fill_scene, &state);
}

// Beside the program in the build tree; under share/tresvik when installed.
std::filesystem::path genicam_file() {
    std::error_code error;
    const std::filesystem::path folder =
        std::filesystem::read_symlink("/proc/self/exe", error).parent_path();
    const std::filesystem::path beside = folder / "tresvik-camsim.xml";
    if (std::filesystem::exists(beside, error))
        return beside;
    return folder.parent_path() / "share" / "tresvik" / "tresvik-camsim.xml";
}

void print_ready(const camsim_options& options) {
    std::cout << "tresvik-camsim ready: serial " << options.serial << ", model Tresvik-CamSim, "
              << options.address << ", " << options.width << "x" << options.height << " "
              << (options.pixel_format == pixel_format_mono16 ? "Mono16" : "Mono8") << ", "
              << options.fps << " fps, " << options.speed << " px per frame"
              << (options.stamp ? ", stamped" : "");
    if (options.lose_packets != 0)
        std::cout << ", losing " << options.lose_packets << " per thousand data packets";
    std::cout << std::endl;
}

void print_stopped(const stream_counters& sent) {
    std::cout << "tresvik-camsim stopped: " << sent.blocks << " frames sent, " << sent.data_packets
              << " data packets, " << sent.lost << " lost, " << sent.requests
              << " resend requests, " << sent.resent << " packets resent, " << sent.unavailable
              << " requests for frames no longer held" << std::endl;
}

// A descriptor that becomes readable on SIGINT or SIGTERM. The signals are blocked first, so that
// they end the camera's loop instead of the program.
int stop_signal_fd() {
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    const int fd = signalfd(-1, &stop_signals, SFD_CLOEXEC);
    if (fd < 0)
        throw std::runtime_error(std::string("signalfd: ") + std::strerror(errno));
    return fd;
}

int run(const camsim_options& options) {
    const std::filesystem::path genicam = genicam_file();
    if (!std::filesystem::exists(genicam))
        throw std::runtime_error("GenICam description not found: " + genicam.string());
    if (address_taken(options.address))
        throw std::runtime_error("another camera already answers on " + options.address);
    const int stop_fd = stop_signal_fd();
    std::unique_ptr<ArvFakeCamera, decltype(&g_object_unref)> camera(
        arv_fake_camera_new_full(options.serial.c_str(), genicam.c_str()), g_object_unref);
    scene_state state;
    configure(camera.get(), options, state);
    stream_counters sent;
    {
        gv_camera network(camera.get(), options.address, options.lose_packets);
        print_ready(options);
        network.run(stop_fd);
        sent = network.counters();
    }
    close(stop_fd);
    print_stopped(sent);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    tool_app app("tresvik-camsim",
                 "A GigE Vision camera on loopback that films the track under a moving car.");
    app.footer(
        "A frame's packets go out at the pace of a gigabit link (125 MB/s), as from a GigE\n"
        "camera. With --lose-packets, the lost ones are drawn at random places in each\n"
        "thousand data packets (leaders and trailers always go out); the receiver gets a\n"
        "lost packet when it asks for it again (GVCP packet resend), as long as its frame is\n"
        "among the last " +
        std::to_string(held_blocks) +
        " sent. Stops cleanly on SIGINT or SIGTERM and then prints the frames\n"
        "sent and the data packets lost and sent again.");
    camsim_options options;
    add_camsim_options(app, options);
    return run_tool(app, argc, argv, [&] { return run(options); });
}
