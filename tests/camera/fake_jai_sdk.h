#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "camera/jai_sdk.h"

// A scripted, in-process camera layer for unit tests, linked instead of camera_sdk_aravis. Each J_
// call is recorded as text: the function's name, then its node, item, selector or time-out when it
// has one ("J_Camera_GetValueInt64 Width", "J_DataStream_FlushQueue 1"); failures and holds are
// keyed by that text. Everything is thread-safe (one mutex), so a test may script while a capture
// thread calls the layer. A call on an unknown handle, or out of order, fails the running test.
// Closing a stream reads the memory of the buffers still announced, as a layer may use it until
// then, so that AddressSanitizer reports memory freed too early.
namespace fake_sdk {

struct camera_setup {
    std::string id;
    std::string model = "FakeCam";
    std::string address = "127.0.0.1";
    std::int64_t width = 8;
    std::int64_t height = 4;
    std::int64_t pixel_format = J_GVSP_PIX_MONO8;
    std::uint32_t line_padding = 0; // bytes after each line, as BUFFER_INFO_XPADDING reports
};

// One scripted camera, named by its id; valid until reset().
struct fake_camera {
    std::string id;
    // Fills the next queued buffer with the pixels (cut to its size) and signals the registered
    // condition. False while the camera is not acquiring or no buffer is queued.
    bool deliver_frame(const std::vector<std::uint8_t>& pixels, std::uint64_t timestamp,
                       std::uint32_t missing_packets = 0) const;
    void set_int(const std::string& node, std::int64_t value) const;
    // The J_DataStream_GetStreamInfo counter of that item (0 until set).
    void set_stream_info(int item, std::uint64_t value) const;
    std::string exposure_mode() const;
    bool acquiring() const; // between AcquisitionStart and AcquisitionStop
    std::size_t queued_buffers() const;
};

// Forgets every camera, handle, script and record. Nothing may be using the layer.
void reset();
fake_camera add_camera(const camera_setup& setup);

// The call fails once, after `skip` further calls of it have succeeded.
void fail(const std::string& call, unsigned skip = 0);
// The next such call blocks inside the layer until release_hold(), from when it is recorded.
void hold(const std::string& call);
void release_hold();
// The next wait returns this result at once. Waits time out only when scripted; one that
// nothing ends within 20 s fails the test, so that a lost exit request does not hang it.
void script_wait(std::uint32_t result);

std::vector<std::string> calls();
std::size_t count_calls(const std::string& call);

// What is open now.
struct resources {
    std::size_t factories = 0;
    std::size_t cameras = 0;
    std::size_t streams = 0;
    std::size_t conditions = 0;
    std::size_t events = 0;
    std::size_t announced_bytes = 0;
};
resources open_resources();

} // namespace fake_sdk
