#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "camera/jai_sdk.h"

// A scripted, in-process camera layer for unit tests: linked instead of camera_sdk_aravis, it
// implements every J_ function of camera/jai_sdk.h over process-wide state. Every J_ function and
// every call below is thread-safe (one mutex), so a test may script frames and failures while a
// capture thread calls the layer. Calls on unknown or closed handles, and revoking a queued buffer
// of a running stream, return J_ST_ERROR and are noted as misuses. Closing a stream reads the
// memory of the buffers still announced, as a layer may use it until then, so that
// AddressSanitizer reports memory freed while the layer still held it.
namespace fake_sdk {

constexpr std::int64_t mono8 = 0x01080001;
constexpr std::int64_t mono12 = 0x01100005;
constexpr std::int64_t mono16 = 0x01100007;
constexpr std::int64_t mono12_packed = 0x010C0006;

// Steps at which a failure can be injected; each names the J_ call (and node) it fails.
enum class step {
    factory_open,
    update_list,
    camera_count,
    camera_id,
    camera_model,
    camera_ip,
    camera_open,
    read_width,
    read_height,
    read_pixel_format,
    set_exposure,
    stream_count,
    create_stream,
    set_stream_param,
    announce_buffer,
    queue_buffer,
    create_condition,
    register_event,
    start_stream,
    acquisition_start,
    buffer_info,
    revoke_buffer,
    stream_info,
    wait,
};

struct camera_setup {
    std::string id;
    std::string model = "FakeCam";
    std::string address = "127.0.0.1";
    std::int64_t width = 8;
    std::int64_t height = 4;
    std::int64_t pixel_format = mono8;
    std::uint32_t line_padding = 0; // bytes after each line, as BUFFER_INFO_XPADDING reports
};

// One scripted camera, named by its id; a cheap value that stays valid until reset().
class fake_camera {
public:
    explicit fake_camera(std::string id) : id_(std::move(id)) {}
    const std::string& id() const { return id_; }

    // Fills the stream's next queued buffer with the pixels (cut to the buffer's size), moves it to
    // the delivery queue and signals the registered condition. False when the camera is not
    // acquiring or no buffer is queued (then counted as lost, as a camera would).
    bool deliver_frame(const std::vector<std::uint8_t>& pixels, std::uint64_t timestamp,
                       std::uint32_t missing_packets = 0) const;
    void set_int(const std::string& node, std::int64_t value) const;
    std::string exposure_mode() const;
    // Replaces the stream counter of that J_DataStream_GetStreamInfo item from now on.
    void set_stream_info(int item, std::uint64_t value) const;
    // Between AcquisitionStart and AcquisitionStop.
    bool acquiring() const;
    // Buffers in the input queue of this camera's open stream (0 without one).
    std::size_t queued_buffers() const;

private:
    std::string id_;
};

// Forgets every camera, handle, failure, script and record. Nothing may be using the layer.
void reset();
fake_camera add_camera(const camera_setup& setup);

// The step fails (J_ST_ERROR) after `skip` further successful calls, `times` times in a row
// (0: from then on). Buffer info counts every item read.
void fail(step at, unsigned skip = 0, unsigned times = 1);

// The next call of the step blocks until release_hold(), so a test can act while a thread is
// inside it. held() tells whether a call is blocked there now.
void hold(step at);
bool held();
void release_hold();

// With real time-outs (the default) a wait with nothing to report returns 0 after its time-out;
// without them it blocks until a frame, an exit or a scripted result.
void set_real_timeouts(bool on);
// The next wait on any condition returns this status and result at once, before anything else.
void script_wait(std::uint32_t result, J_STATUS_TYPE status = J_ST_SUCCESS);
// Threads currently blocked in J_Event_WaitForCondition.
int waiters();

// Every call made, in order: the function name, then its node, item or selector when it has one
// ("J_Camera_ExecuteCommand AcquisitionStop", "J_DataStream_FlushQueue 1").
std::vector<std::string> calls();
std::size_t count_calls(const std::string& call);

// What is open now.
struct resources {
    std::size_t factories = 0;
    std::size_t cameras = 0;
    std::size_t streams = 0;
    std::size_t announced_buffers = 0;
    std::size_t announced_bytes = 0;
    std::size_t conditions = 0;
    std::size_t events = 0;
    std::size_t running_streams = 0;
};
resources open_resources();
std::vector<std::string> misuses();

// Polls the predicate (which may call this API) until it holds or the deadline passes.
bool wait_until(const std::function<bool()>& condition,
                std::chrono::milliseconds deadline = std::chrono::seconds(20));

} // namespace fake_sdk
