#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "camera/camera_device.h"

// A scripted, in-process camera layer for unit tests, linked instead of camera_sdk_aravis: any
// number of cameras with chosen ids and geometry, frames with chosen timestamps and pixels, and
// injected failures. Each call of the layer is recorded as text, its operation and its feature
// when it has one ("discover", "open", "integer Width", "set_text ExposureMode", "execute
// AcquisitionStart", "open_stream", "answers"); failures and holds are keyed by that text.
// Thread-safe (one mutex), so a test may script while a capture thread calls the layer.
namespace camera_double {

struct camera_setup {
    std::string id;
    std::string model = "FakeCam";
    std::string address = "127.0.0.1";
    std::int64_t width = 8;
    std::int64_t height = 4;
    std::int64_t pixel_format = 0x01080001; // Mono8
    std::int64_t padding_x = 0;             // bytes after each line of a frame
};

// One scripted camera, named by its id; valid until reset().
struct scripted_camera {
    std::string id;
    // Fills a free buffer of the open stream with the pixels (cut to its size) and hands it to
    // the stream's reader; an incomplete frame is counted as failed, a whole one as completed.
    // False while the camera is not acquiring or no buffer is free.
    bool deliver(const std::vector<std::uint8_t>& pixels, std::uint64_t timestamp,
                 bool complete = true, std::uint32_t missing_packets = 0) const;
    void set_int(const std::string& feature, std::int64_t value) const;
    // Adds to the counters that deliver keeps.
    void add_counters(const stream_counters& more) const;
    // Stops answering and is no longer discovered, or is back.
    void set_present(bool present) const;
    std::string exposure_mode() const;
    bool acquiring() const; // between AcquisitionStart and AcquisitionStop
    std::size_t free_buffers() const;
};

// Forgets every camera, script and record. Nothing may be using the layer.
void reset();
scripted_camera add_camera(const camera_setup& setup);

// The call fails once, after `skip` further calls of it have succeeded.
void fail(const std::string& call, unsigned skip = 0);
// The next such call blocks inside the layer until release_hold(), from when it is recorded.
void hold(const std::string& call);
void release_hold();

std::size_t count_calls(const std::string& call);

// What is open now.
struct resources {
    std::size_t layers = 0, cameras = 0, streams = 0, buffer_bytes = 0;
};
resources open_resources();

} // namespace camera_double
