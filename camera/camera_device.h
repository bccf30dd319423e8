#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The camera layer: a layer that finds and opens cameras, a device (one open camera), its stream
// and the frames the stream delivers. The product's layer reaches GigE Vision cameras through
// Aravis; unit tests link a scripted double of the same classes instead (open_camera_layer and
// camera_layer_version are chosen at link time). Features go by their GenICam SFNC names.
//
// Ownership: whoever opens a device or a stream owns it, and a stream goes before its device. A
// device may be used by two threads at once (the exposure mode while a capture runs); a stream and
// its frames by one thread only.

// One finished frame as the camera sent it. Its pixels belong to the stream: they stay valid until
// the stream's next call of next_frame, or until the stream goes.
struct camera_frame {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0; // bytes of data
    std::int64_t width = 0, height = 0, offset_x = 0, offset_y = 0;
    std::int64_t padding_x = 0; // bytes after each line
    std::int64_t pixel_format = 0;
    std::uint64_t timestamp = 0, block_id = 0;
    std::uint32_t missing_packets = 0, resent_packets = 0; // of this frame
    std::uint32_t queued_buffers = 0;                      // waiting to be filled
    bool complete = true; // false: lost packets or cut short; never stored as a whole frame
};

// The stream's own counters since it opened.
struct stream_counters {
    std::uint64_t completed = 0, failed = 0, underruns = 0, missing_packets = 0, resent_packets = 0;
};

class camera_stream {
public:
    // Stops receiving; the buffers go with the stream.
    virtual ~camera_stream() = default;
    // The next finished frame, complete or not; null once the time-out has passed without one.
    // The previous frame's buffer goes back to the camera first.
    virtual const camera_frame* next_frame(std::chrono::milliseconds timeout) = 0;
    virtual stream_counters counters() = 0;
};

class camera_device {
public:
    virtual ~camera_device() = default;
    // Empty, or false, when the camera refuses or does not answer.
    virtual std::optional<std::int64_t> integer(const std::string& feature) = 0;
    virtual bool set_text(const std::string& feature, const std::string& value) = 0;
    virtual bool execute(const std::string& command) = 0;
    // ExposureTime (else ExposureTimeAbs) in microseconds, and Gain (else GainRaw); empty when
    // the camera has neither name.
    virtual std::optional<double> exposure_time() = 0;
    virtual std::optional<double> gain() = 0;
    // A stream with buffer_count buffers of buffer_bytes each, all queued; null when the camera
    // cannot stream.
    virtual std::unique_ptr<camera_stream> open_stream(int buffer_count,
                                                       std::size_t buffer_bytes) = 0;
    // Whether the camera still answers; waits well under a second for it.
    virtual bool answers() = 0;
};

struct camera_entry {
    std::string id, model, address;
};

class camera_layer {
public:
    virtual ~camera_layer() = default;
    // One discovery on the network (about a second); empty when none answered. Throws
    // std::runtime_error when discovery itself fails.
    virtual std::vector<camera_entry> discover() = 0;
    // Null when the camera cannot be opened.
    virtual std::unique_ptr<camera_device> open(const std::string& camera_id) = 0;
};

// Null when the layer cannot start.
std::unique_ptr<camera_layer> open_camera_layer();
// The layer's name and version, for the start-up row.
std::string camera_layer_version();
