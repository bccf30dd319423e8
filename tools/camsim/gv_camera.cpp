#include "tools/camsim/gv_camera.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace {

// Bootstrap register the controller reads as its heartbeat.
constexpr std::uint32_t privilege_register = 0x0a00;
// Aravis's register holding the camera's GVCP capabilities, and its bit for packet resend.
constexpr std::uint32_t capability_register = 0x0934;
constexpr std::uint32_t capability_packet_resend = 1u << 2;
// Between two looks at the control port while a frame goes out (packets).
constexpr std::uint32_t control_look_every = 64;
constexpr std::int64_t idle_wait_us = 100000;
// Bootstrap bytes a discovery acknowledge carries.
constexpr std::uint32_t discovery_size = 0xf8;

int bound_socket(const std::string& address, std::uint16_t port, bool shared, bool blocking) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | (blocking ? 0 : SOCK_NONBLOCK), 0);
    if (fd < 0)
        throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    const int yes = 1;
    if (shared)
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &local.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        const int error = errno;
        close(fd);
        throw std::runtime_error("cannot bind " + address + ":" + std::to_string(port) + ": " +
                                 std::strerror(error));
    }
    return fd;
}

bool same_peer(const sockaddr_in& a, const sockaddr_in& b) {
    return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
}

void set_camera_address(ArvFakeCamera* camera, const std::string& address) {
    GInetAddress* inet = g_inet_address_new_from_string(address.c_str());
    arv_fake_camera_set_inet_address(camera, inet);
    g_object_unref(inet);
}

// Carries out a request on the fake camera's memory: its register map, then its GenICam
// description. Accesses outside them are refused here, as the library would only assert, or for
// the description copy past its end.
struct executor {
    ArvFakeCamera* camera;
    bool may_write;
    gige::status& result;

    static bool in_registers(std::uint64_t address, std::uint64_t size) {
        return address + size < ARV_FAKE_CAMERA_MEMORY_SIZE;
    }

    std::vector<std::uint8_t> operator()(const gige::discovery&) const {
        std::vector<std::uint8_t> bootstrap(discovery_size);
        arv_fake_camera_read_memory(camera, 0, discovery_size, bootstrap.data());
        return bootstrap;
    }

    std::vector<std::uint8_t> operator()(const gige::read_registers& read) const {
        std::vector<std::uint32_t> values;
        for (std::uint32_t address : read.addresses) {
            if (!in_registers(address, 4))
                return fail(gige::invalid_address);
            arv_fake_camera_read_register(camera, address, &values.emplace_back());
        }
        return gige::register_values(values);
    }

    std::vector<std::uint8_t> operator()(const gige::write_registers& write) const {
        std::uint16_t written = 0;
        for (const auto& [address, value] : write.writes) {
            if (!may_write || !in_registers(address, 4)) {
                result = may_write ? gige::invalid_address : gige::access_denied;
                break;
            }
            arv_fake_camera_write_register(camera, address, value);
            ++written;
        }
        return gige::written_count(written);
    }

    std::vector<std::uint8_t> operator()(const gige::read_memory& read) const {
        std::vector<std::uint8_t> bytes(read.size);
        if (in_registers(read.address, read.size)) {
            arv_fake_camera_read_memory(camera, read.address, read.size, bytes.data());
            return gige::memory_read_body(read.address, bytes);
        }
        std::size_t xml_size = 0;
        const char* xml = arv_fake_camera_get_genicam_xml(camera, &xml_size);
        if (read.address < ARV_FAKE_CAMERA_MEMORY_SIZE ||
            read.address - ARV_FAKE_CAMERA_MEMORY_SIZE >= xml_size)
            return fail(gige::invalid_address);
        const std::size_t from = read.address - ARV_FAKE_CAMERA_MEMORY_SIZE;
        std::copy_n(xml + from, std::min<std::size_t>(read.size, xml_size - from), bytes.begin());
        return gige::memory_read_body(read.address, bytes);
    }

    std::vector<std::uint8_t> operator()(const gige::write_memory& write) const {
        if (!may_write || !in_registers(write.address, write.bytes.size()))
            return fail(may_write ? gige::invalid_address : gige::access_denied);
        arv_fake_camera_write_memory(camera, write.address, write.bytes.size(), write.bytes.data());
        return gige::written_count(static_cast<std::uint16_t>(write.bytes.size()));
    }

    std::vector<std::uint8_t> operator()(const gige::packet_resend&) const { return {}; }
    std::vector<std::uint8_t> operator()(const gige::unsupported& refused) const {
        return fail(refused.reason);
    }

    std::vector<std::uint8_t> fail(gige::status why) const {
        result = why;
        return {};
    }
};

gige::image_info image_of(ArvBuffer* frame) {
    gige::image_info image;
    gint x = 0, y = 0, width = 0, height = 0;
    arv_buffer_get_image_region(frame, &x, &y, &width, &height);
    image.timestamp = arv_buffer_get_timestamp(frame);
    image.pixel_format = arv_buffer_get_image_pixel_format(frame);
    image.width = static_cast<std::uint32_t>(width);
    image.height = static_cast<std::uint32_t>(height);
    image.x_offset = static_cast<std::uint32_t>(x);
    image.y_offset = static_cast<std::uint32_t>(y);
    return image;
}

} // namespace

gv_camera::gv_camera(ArvFakeCamera* camera, const std::string& address,
                     std::uint32_t lose_per_thousand)
    : camera_(camera), loss_(lose_per_thousand, std::random_device{}()) {
    try {
        control_ = bound_socket(address, gige::control_port, false, false);
        discovery_ = bound_socket("255.255.255.255", gige::control_port, true, false);
        stream_ = bound_socket(address, 0, false, true);
    } catch (...) {
        for (int fd : {control_, discovery_})
            if (fd >= 0)
                close(fd);
        throw;
    }
    set_camera_address(camera, address);
    guint32 capabilities = 0;
    arv_fake_camera_read_register(camera, capability_register, &capabilities);
    arv_fake_camera_write_register(camera, capability_register,
                                   capabilities | capability_packet_resend);
}

gv_camera::~gv_camera() {
    for (int fd : {control_, discovery_, stream_})
        close(fd);
    g_clear_object(&frame_);
}

bool gv_camera::streaming() const {
    return arv_fake_camera_get_control_channel_privilege(camera_) != 0 &&
           arv_fake_camera_get_acquisition_status(camera_) != 0;
}

// Frames are due on the camera's own clock; between them the control port is served. Each frame
// goes to the destination the registers name at the time, which a new stream changes.
void gv_camera::run(int stop_fd) {
    pollfd watched[3] = {{control_, POLLIN, 0}, {discovery_, POLLIN, 0}, {stop_fd, POLLIN, 0}};
    for (;;) {
        guint64 due_us = g_get_real_time() + idle_wait_us;
        if (streaming())
            arv_fake_camera_get_sleep_time_for_next_frame(camera_, &due_us);
        for (std::int64_t left; (left = std::int64_t(due_us) - g_get_real_time()) > 0;) {
            if (poll(watched, 3, static_cast<int>(std::min(left / 1000, idle_wait_us / 1000))) <= 0)
                continue;
            if (watched[2].revents != 0)
                return;
            serve_pending();
        }
        if (streaming())
            send_block();
    }
}

void gv_camera::serve_pending() {
    serve(control_);
    serve(discovery_);
}

void gv_camera::serve(int socket) {
    std::uint8_t bytes[2048];
    for (;;) {
        sockaddr_in from{};
        socklen_t from_size = sizeof from;
        const ssize_t size = recvfrom(socket, bytes, sizeof bytes, 0,
                                      reinterpret_cast<sockaddr*>(&from), &from_size);
        if (size < 0)
            return;
        const std::optional<gige::request> request =
            gige::parse_request(bytes, static_cast<std::size_t>(size));
        if (!request)
            continue;
        answer(*request, from, controller_may_write(from));
        follow_privilege(from);
    }
}

// A controller that missed its heartbeat loses the camera; until then only it may write.
bool gv_camera::controller_may_write(const sockaddr_in& from) {
    if (!has_controller_)
        return true;
    const std::int64_t elapsed_ms = (g_get_real_time() - controller_time_us_) / 1000;
    if (elapsed_ms > std::int64_t{arv_fake_camera_get_heartbeat_timeout(camera_)}) {
        has_controller_ = false;
        arv_fake_camera_set_control_channel_privilege(camera_, 0);
        return true;
    }
    return same_peer(from, controller_);
}

void gv_camera::follow_privilege(const sockaddr_in& from) {
    const bool held = arv_fake_camera_get_control_channel_privilege(camera_) != 0;
    if (held && !has_controller_) {
        has_controller_ = true;
        controller_ = from;
        controller_time_us_ = g_get_real_time();
    } else if (!held) {
        has_controller_ = false;
    }
}

void gv_camera::answer(const gige::request& request, const sockaddr_in& from, bool may_write) {
    if (const auto* wanted = std::get_if<gige::packet_resend>(&request.body)) {
        ++counters_.requests;
        resend(*wanted);
        return;
    }
    gige::status result = gige::success;
    const std::vector<std::uint8_t> body = carry_out(request, may_write, result);
    const auto* read = std::get_if<gige::read_registers>(&request.body);
    if (read && read->addresses.front() == privilege_register && has_controller_ &&
        same_peer(from, controller_))
        controller_time_us_ = g_get_real_time();
    if (!request.wants_ack)
        return;
    const std::vector<std::uint8_t> reply =
        gige::acknowledge(request.command, request.id, result, body);
    sendto(control_, reply.data(), reply.size(), 0, reinterpret_cast<const sockaddr*>(&from),
           sizeof from);
}

std::vector<std::uint8_t> gv_camera::carry_out(const gige::request& request, bool may_write,
                                               gige::status& result) {
    return std::visit(executor{camera_, may_write, result}, request.body);
}

void gv_camera::send_block() {
    GSocketAddress* address = arv_fake_camera_get_stream_address(camera_);
    has_destination_ =
        g_socket_address_to_native(address, &destination_, sizeof destination_, nullptr);
    g_object_unref(address);
    const std::size_t payload = arv_fake_camera_get_payload(camera_);
    if (frame_ == nullptr || payload != block_bytes_) {
        g_clear_object(&frame_);
        frame_ = arv_buffer_new(payload, nullptr);
        block_bytes_ = payload;
    }
    guint32 packet_size = 0;
    arv_fake_camera_fill_buffer(camera_, frame_, &packet_size);
    sent_block& block = history_.next();
    const auto* pixels = static_cast<const std::uint8_t*>(arv_buffer_get_data(frame_, nullptr));
    block.bytes.assign(pixels, pixels + payload);
    block.layout = {payload, gige::data_per_packet(packet_size)};
    block.image = image_of(frame_);
    ++counters_.blocks;
    const std::int64_t start_us = g_get_real_time();
    const double bytes_per_us = pace_of(payload);
    for (std::uint32_t id = 0; id <= block.layout.trailer_id(); ++id) {
        const bool data = id != 0 && id != block.layout.trailer_id();
        counters_.data_packets += data;
        if (data && loss_.drop_next())
            ++counters_.lost;
        else
            send_packet(block, id);
        if (id % control_look_every == 0)
            keep_pace(start_us, std::uint64_t{id} * block.layout.per_packet / bytes_per_us);
    }
}

// A gigabit link carries 125 bytes a microsecond: a frame's packets go out no faster, unless the
// frame rate asks for a full link, whose camera sends each frame in a burst; then they take three
// quarters of the frame period, leaving the rest for drawing the next frame.
double gv_camera::pace_of(std::size_t payload) const {
    guint32 period_us = 0;
    arv_fake_camera_read_register(camera_, ARV_FAKE_CAMERA_REGISTER_ACQUISITION_FRAME_PERIOD_US,
                                  &period_us);
    return std::max(125.0, static_cast<double>(payload) / (0.75 * std::max<guint32>(period_us, 1)));
}

// The control port is served while the packets wait.
void gv_camera::keep_pace(std::int64_t start_us, double due_after_us) {
    const std::int64_t due_us = start_us + static_cast<std::int64_t>(due_after_us);
    pollfd control{control_, POLLIN, 0};
    for (std::int64_t left; (left = due_us - g_get_real_time()) > 0;) {
        const timespec wait{0, static_cast<long>(left * 1000)};
        if (ppoll(&control, 1, &wait, nullptr) > 0)
            serve(control_);
    }
    serve_pending();
}

void gv_camera::send_packet(const sent_block& block, std::uint32_t packet_id) {
    if (!has_destination_)
        return;
    const gige::block_layout& layout = block.layout;
    gige::packet_kind kind = gige::packet_kind::data;
    iovec parts[2];
    const auto leader = gige::leader_body(block.image);
    const auto trailer = gige::trailer_body(block.image.height);
    if (packet_id == 0) {
        kind = gige::packet_kind::leader;
        parts[1] = {const_cast<std::uint8_t*>(leader.data()), leader.size()};
    } else if (packet_id == layout.trailer_id()) {
        kind = gige::packet_kind::trailer;
        parts[1] = {const_cast<std::uint8_t*>(trailer.data()), trailer.size()};
    } else {
        const std::size_t offset = std::size_t{packet_id - 1} * layout.per_packet;
        parts[1] = {const_cast<std::uint8_t*>(block.bytes.data() + offset),
                    std::min<std::size_t>(layout.per_packet, layout.payload - offset)};
    }
    auto header = gige::stream_header(block.block_id, kind, packet_id);
    parts[0] = {header.data(), header.size()};
    msghdr message{};
    message.msg_name = &destination_;
    message.msg_namelen = sizeof destination_;
    message.msg_iov = parts;
    message.msg_iovlen = 2;
    sendmsg(stream_, &message, 0);
}

// Packets of a block no longer held cannot come again; the receiver gives the frame up.
void gv_camera::resend(const gige::packet_resend& request) {
    const sent_block* block = history_.held(request.block_id);
    if (block == nullptr) {
        ++counters_.unavailable;
        return;
    }
    const std::uint32_t last = std::min(request.last, block->layout.trailer_id());
    for (std::uint32_t id = request.first; id <= last; ++id) {
        send_packet(*block, id);
        ++counters_.resent;
    }
}
