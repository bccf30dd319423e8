// The parts of the frame buffer that talk to the camera layer, apart from the copy path so that
// programs using only the buffer need no camera layer.
#include <stdexcept>

#include "camera/grab_modes.h"

namespace {
std::int64_t read_int(camera_device& camera, const char* feature, const char* error) {
    const std::optional<std::int64_t> value = camera.integer(feature);
    if (!value)
        throw std::runtime_error(error);
    return *value;
}
} // namespace

frame_geometry read_frame_geometry(camera_device& camera) {
    frame_geometry geometry;
    geometry.width = read_int(camera, "Width", "Error getting frame width.");
    geometry.height = read_int(camera, "Height", "Error getting frame height.");
    geometry.pixel_format = read_int(camera, "PixelFormat", "Error getting pixel format.");
    geometry.bits_per_pixel = bits_per_pixel_of(geometry.pixel_format);
    return geometry;
}

frame_buffer::frame_buffer(camera_device& camera) : frame_buffer(read_frame_geometry(camera)) {}
