#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "camera/jai_sdk.h"

// Pure helpers of the GigE Vision camera layer: camera ids, text hand-over and pixel reversal.

// The layer's camera id of an Aravis device id: the transport layer, the socket-driver marker
// "INT=>SD" and the device id, which is the id's last field so that it may hold any character.
std::string camera_id_for_device(const std::string& device_id);

// The Aravis device id inside a camera id made by camera_id_for_device; empty when there is none.
std::string device_id_of_camera(const std::string& camera_id);

// Copies text with its NUL into the caller's buffer of *size bytes and sets *size to the bytes the
// text needs. A text that does not fit is cut (still NUL-terminated) and reported as an error, so
// that a caller never takes a cut id for a whole one.
J_STATUS_TYPE copy_text(const std::string& text, char* buffer, std::uint32_t* size);

// Reverses the order of pixel_count pixels of bytes_per_pixel bytes each, keeping each pixel's
// bytes in order: an image turned by 180 degrees.
void reverse_pixels(std::uint8_t* data, std::size_t pixel_count, std::size_t bytes_per_pixel);
