#include "camera/gige_layer_util.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr const char* device_marker = "DEV=>";
}

std::string camera_id_for_device(const std::string& device_id) {
    return "TL=>GevTL , INT=>SD , " + std::string(device_marker) + device_id;
}

std::string device_id_of_camera(const std::string& camera_id) {
    const std::size_t at = camera_id.find(device_marker);
    if (at == std::string::npos)
        return {};
    return camera_id.substr(at + std::strlen(device_marker));
}

J_STATUS_TYPE copy_text(const std::string& text, char* buffer, std::uint32_t* size) {
    if (buffer == nullptr || size == nullptr)
        return J_ST_ERROR;
    const std::size_t room = *size;
    *size = static_cast<std::uint32_t>(text.size() + 1);
    if (room == 0)
        return J_ST_ERROR;
    const std::size_t copied = std::min(text.size(), room - 1);
    std::memcpy(buffer, text.data(), copied);
    buffer[copied] = '\0';
    return copied == text.size() ? J_ST_SUCCESS : J_ST_ERROR;
}

void reverse_pixels(std::uint8_t* data, std::size_t pixel_count, std::size_t bytes_per_pixel) {
    if (bytes_per_pixel == 1) {
        std::reverse(data, data + pixel_count);
        return;
    }
    for (std::size_t low = 0, high = pixel_count; low + 1 < high; ++low, --high)
        std::swap_ranges(data + low * bytes_per_pixel, data + (low + 1) * bytes_per_pixel,
                         data + (high - 1) * bytes_per_pixel);
}
