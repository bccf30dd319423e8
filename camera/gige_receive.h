#pragma once

#include <cstdint>
#include <string>

// Whether the kernel lets a GigE Vision stream socket hold one whole frame. The receiving socket
// asks for a buffer of one frame; the kernel silently caps the request at net.core.rmem_max, and a
// frame that does not fit loses packets whenever the receiving thread is late.

// An English notice naming both sizes, the setting, the command that raises it and how to keep it
// raised; empty when the limit holds a frame or is unknown (0).
std::string receive_buffer_warning(std::uint64_t rmem_max, std::uint64_t frame_bytes);

// The kernel's net.core.rmem_max in bytes, 0 when it cannot be read (as on systems without /proc).
std::uint64_t read_rmem_max();

// The number in the file at path, 0 when the file is missing or holds no number.
std::uint64_t read_rmem_max_from(const std::string& path);
