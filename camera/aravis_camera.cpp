// The camera layer over Aravis: GigE Vision cameras as ArvCamera, their streams as ArvStream and
// frames as ArvBuffer.
//
// A vanished camera makes every control transaction wait for Aravis's time-outs (five tries of
// half a second), and so does finalizing its objects (leaving control, stopping its stream). Once
// a camera is found lost, nothing more is sent to it and its objects are released on a thread of
// their own, which a later open of a camera waits for.

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arv.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "camera/camera_device.h"

namespace {

constexpr const char* device_marker = "DEV=>";

const char* text_or_empty(const char* text) {
    return text != nullptr ? text : "";
}

// Objects of lost cameras still being released. Never destroyed, so that a release running when
// the process exits never meets a destroyed mutex.
struct release_count {
    std::mutex lock;
    std::condition_variable done;
    int running = 0;
};

release_count& background_releases() {
    static auto* count = new release_count;
    return *count;
}

// Drops one reference to each object, in order, on a detached thread.
void release_in_background(std::vector<gpointer> objects) {
    release_count& count = background_releases();
    {
        std::lock_guard<std::mutex> hold(count.lock);
        ++count.running;
    }
    std::thread([objects = std::move(objects), &count] {
        for (gpointer object : objects)
            g_object_unref(object);
        std::lock_guard<std::mutex> hold(count.lock);
        --count.running;
        count.done.notify_all();
    }).detach();
}

// A release still running may yet write to a camera that is back (its stream channel, its control
// privilege): a camera is opened only after the releases end, or after this bound, above the
// slowest measured (a stream and its camera, each behind the heartbeat's own time-outs).
void wait_for_background_releases() {
    release_count& count = background_releases();
    std::unique_lock<std::mutex> hold(count.lock);
    count.done.wait_for(hold, std::chrono::seconds(8), [&count] { return count.running == 0; });
}

// One GVCP read of the camera's version register from a socket of our own, three tries of
// 150 ms: whether the camera is there at all, without Aravis's time-outs.
bool gvcp_answers(GSocketAddress* address) {
    sockaddr_in target{};
    if (!g_socket_address_to_native(address, &target, sizeof target, nullptr))
        return false;
    const int probe = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return true; // no socket to ask with is no news of the camera
    const timeval wait{0, 150000};
    setsockopt(probe, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    const std::uint8_t read_register[12] = {0x42, 0x01, 0x00, 0x80, 0x00, 0x04, 0x7E, 0x57};
    bool answered = false;
    for (int attempt = 0; attempt < 3 && !answered; ++attempt) {
        sendto(probe, read_register, sizeof read_register, 0,
               reinterpret_cast<const sockaddr*>(&target), sizeof target);
        std::uint8_t reply[64];
        const ssize_t got = recv(probe, reply, sizeof reply, 0);
        answered = got >= 8 && reply[2] == 0x00 && reply[3] == 0x81 && reply[6] == 0x7E &&
                   reply[7] == 0x57;
    }
    close(probe);
    return answered;
}

class aravis_device;

class aravis_stream : public camera_stream {
public:
    aravis_stream(aravis_device& owner, ArvStream* arv) : owner_(owner), arv_(arv) {}
    ~aravis_stream() override;
    const camera_frame* next_frame(std::chrono::milliseconds timeout) override;
    stream_counters counters() override;

private:
    void describe(ArvBuffer* buffer);

    aravis_device& owner_;
    ArvStream* const arv_;
    ArvBuffer* current_ = nullptr; // popped, ours until the next call
    camera_frame frame_;
    stream_counters seen_;  // at the previous frame, for its own packet counts
    std::uint64_t cut_ = 0; // frames Aravis counted complete though they overran their buffer
};

class aravis_device : public camera_device {
public:
    explicit aravis_device(ArvCamera* arv) : arv_(arv), controlled_(holds_control()) {}
    ~aravis_device() override {
        if (lost())
            release_in_background({arv_});
        else
            g_object_unref(arv_);
    }

    std::optional<std::int64_t> integer(const std::string& feature) override {
        std::int64_t value = 0;
        const bool done = call([&](ArvDevice* device, GError** error) {
            value = arv_device_get_integer_feature_value(device, feature.c_str(), error);
        });
        return done ? std::optional<std::int64_t>(value) : std::nullopt;
    }
    bool set_text(const std::string& feature, const std::string& value) override {
        return call([&](ArvDevice* device, GError** error) {
            arv_device_set_string_feature_value(device, feature.c_str(), value.c_str(), error);
        });
    }
    bool execute(const std::string& command) override {
        return call([&](ArvDevice* device, GError** error) {
            arv_device_execute_command(device, command.c_str(), error);
        });
    }
    // Aravis's camera resolves both SFNC names of each.
    std::optional<double> exposure_time() override {
        return number(arv_camera_is_exposure_time_available, arv_camera_get_exposure_time);
    }
    std::optional<double> gain() override {
        return number(arv_camera_is_gain_available, arv_camera_get_gain);
    }
    std::unique_ptr<camera_stream> open_stream(int buffer_count, std::size_t buffer_bytes) override;
    bool answers() override {
        if (!lost() && (!gv() || gvcp_answers(arv_gv_device_get_device_address(gv()))))
            return true;
        lost_ = true;
        return false;
    }

    // Set by a control time-out, a failed probe, or Aravis's heartbeat losing the control
    // privilege (it clears the device's controller flag); never cleared.
    bool lost() const { return lost_ || (controlled_ && !holds_control()); }

private:
    ArvGvDevice* gv() const {
        ArvDevice* device = arv_camera_get_device(arv_);
        return ARV_IS_GV_DEVICE(device) ? ARV_GV_DEVICE(device) : nullptr;
    }
    bool holds_control() const { return gv() && arv_gv_device_is_controller(gv()); }

    // One feature access under the lock, only while the camera is not lost. Aravis's GenICam tree
    // is not thread-safe, and the exposure mode comes from another thread than the capture's.
    template <typename Access> bool call(Access access) {
        std::lock_guard<std::mutex> hold(lock_);
        if (lost())
            return false;
        GError* error = nullptr;
        access(arv_camera_get_device(arv_), &error);
        if (error == nullptr)
            return true;
        if (g_error_matches(error, ARV_DEVICE_ERROR, ARV_DEVICE_ERROR_TIMEOUT))
            lost_ = true; // Aravis has retried already: every later call would wait as long
        g_error_free(error);
        return false;
    }

    std::optional<double> number(gboolean (*available)(ArvCamera*, GError**),
                                 double (*read)(ArvCamera*, GError**)) {
        double value = 0;
        bool there = false;
        const bool done = call([&](ArvDevice*, GError** error) {
            there = available(arv_, error);
            if (there && *error == nullptr)
                value = read(arv_, error);
        });
        return done && there ? std::optional<double>(value) : std::nullopt;
    }

    ArvCamera* const arv_;
    const bool controlled_;
    std::atomic<bool> lost_{false};
    std::mutex lock_;
};

std::unique_ptr<camera_stream> aravis_device::open_stream(int buffer_count,
                                                          std::size_t buffer_bytes) {
    std::lock_guard<std::mutex> hold(lock_);
    if (lost())
        return nullptr;
    GError* error = nullptr;
    if (gv()) {
        arv_camera_gv_auto_packet_size(arv_, &error); // a camera that cannot test keeps its size
        g_clear_error(&error);
    }
    ArvStream* arv = arv_camera_create_stream(arv_, nullptr, nullptr, &error);
    if (error != nullptr || arv == nullptr) {
        g_clear_error(&error);
        g_clear_object(&arv);
        return nullptr;
    }
    if (ARV_IS_GV_STREAM(arv))
        g_object_set(arv, "socket-buffer", ARV_GV_STREAM_SOCKET_BUFFER_AUTO, "packet-resend",
                     ARV_GV_STREAM_PACKET_RESEND_ALWAYS, nullptr);
    for (int i = 0; i < buffer_count; ++i)
        arv_stream_push_buffer(arv, arv_buffer_new_allocate(buffer_bytes));
    return std::make_unique<aravis_stream>(*this, arv);
}

// Finalizing a GigE stream tells the camera to stop sending, which a lost one times out.
aravis_stream::~aravis_stream() {
    if (current_ != nullptr)
        arv_stream_push_buffer(arv_, current_);
    if (owner_.lost())
        release_in_background({arv_});
    else
        g_object_unref(arv_);
}

const camera_frame* aravis_stream::next_frame(std::chrono::milliseconds timeout) {
    if (current_ != nullptr)
        arv_stream_push_buffer(arv_, current_);
    current_ = arv_stream_timeout_pop_buffer(arv_, static_cast<guint64>(timeout.count()) * 1000);
    if (current_ == nullptr)
        return nullptr;
    describe(current_);
    return &frame_;
}

void aravis_stream::describe(ArvBuffer* buffer) {
    camera_frame& f = frame_;
    f.complete = arv_buffer_get_status(buffer) == ARV_BUFFER_STATUS_SUCCESS &&
                 arv_buffer_get_payload_type(buffer) == ARV_BUFFER_PAYLOAD_TYPE_IMAGE;
    f.data = nullptr;
    f.size = 0;
    if (f.complete) {
        f.data = static_cast<const std::uint8_t*>(arv_buffer_get_image_data(buffer, &f.size));
        gint x = 0, y = 0, width = 0, height = 0, padding_x = 0, padding_y = 0;
        arv_buffer_get_image_region(buffer, &x, &y, &width, &height);
        arv_buffer_get_image_padding(buffer, &padding_x, &padding_y);
        f.offset_x = x, f.offset_y = y, f.width = width, f.height = height;
        f.padding_x = padding_x;
        f.pixel_format = arv_buffer_get_image_pixel_format(buffer);
        // Aravis reports a frame larger than its buffer as complete, with its end cut off.
        const std::size_t bits = ARV_PIXEL_FORMAT_BIT_PER_PIXEL(f.pixel_format);
        f.complete = (std::size_t(width) * height * bits + 7) / 8 <= f.size;
        cut_ += f.complete ? 0 : 1;
    }
    const guint64 camera_time = arv_buffer_get_timestamp(buffer);
    f.timestamp = camera_time != 0 ? camera_time : arv_buffer_get_system_timestamp(buffer);
    f.block_id = arv_buffer_get_frame_id(buffer);
    const stream_counters now = counters();
    f.missing_packets = static_cast<std::uint32_t>(now.missing_packets - seen_.missing_packets);
    f.resent_packets = static_cast<std::uint32_t>(now.resent_packets - seen_.resent_packets);
    seen_ = now;
    gint queued = 0, output = 0;
    arv_stream_get_n_buffers(arv_, &queued, &output);
    f.queued_buffers = static_cast<std::uint32_t>(queued);
}

stream_counters aravis_stream::counters() {
    stream_counters c;
    arv_stream_get_statistics(arv_, &c.completed, &c.failed, &c.underruns);
    c.completed -= cut_;
    c.failed += cut_;
    if (ARV_IS_GV_STREAM(arv_))
        arv_gv_stream_get_statistics(ARV_GV_STREAM(arv_), &c.resent_packets, &c.missing_packets);
    return c;
}

class aravis_layer : public camera_layer {
public:
    std::vector<camera_entry> discover() override {
        arv_update_device_list();
        std::vector<camera_entry> found;
        for (unsigned i = 0; i < arv_get_n_devices(); ++i)
            if (std::strcmp(text_or_empty(arv_get_device_protocol(i)), "GigEVision") == 0)
                found.push_back({std::string("TL=>GevTL , INT=>SD , ") + device_marker +
                                     text_or_empty(arv_get_device_id(i)),
                                 text_or_empty(arv_get_device_model(i)),
                                 text_or_empty(arv_get_device_address(i))});
        return found;
    }

    // The device id is the camera id's last field, so that it may hold any character.
    std::unique_ptr<camera_device> open(const std::string& camera_id) override {
        const std::size_t at = camera_id.find(device_marker);
        if (at == std::string::npos)
            return nullptr;
        wait_for_background_releases();
        GError* error = nullptr;
        ArvCamera* arv =
            arv_camera_new(camera_id.substr(at + std::strlen(device_marker)).c_str(), &error);
        if (error != nullptr || arv == nullptr) {
            g_clear_error(&error);
            g_clear_object(&arv);
            return nullptr;
        }
        return std::make_unique<aravis_device>(arv);
    }
};

} // namespace

std::unique_ptr<camera_layer> open_camera_layer() {
    return std::make_unique<aravis_layer>();
}

std::string camera_layer_version() {
    return "GigE Vision over Aravis " + std::to_string(arv_get_major_version()) + "." +
           std::to_string(arv_get_minor_version()) + "." + std::to_string(arv_get_micro_version());
}
