// The capture thread's per-frame copy into the frame buffer (exclusive lock included) against a
// bare memcpy of the same bytes, for a 1920 x 1200 Mono8 frame. Goal: at most 1.5 times memcpy.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "camera/grab_modes.h"

namespace {
constexpr int frames = 2000;

template <typename Copy> double nanoseconds_per_frame(Copy copy) {
    for (int i = 0; i < frames / 10; ++i)
        copy(i);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < frames; ++i)
        copy(i);
    const std::chrono::duration<double, std::nano> spent = std::chrono::steady_clock::now() - start;
    return spent.count() / frames;
}
} // namespace

int main() {
    const frame_geometry geometry{1920, 1200, J_GVSP_PIX_MONO8, 8};
    frame_buffer buffer(geometry);
    const auto bytes = static_cast<std::size_t>(buffer.frame_bytes());
    std::vector<std::uint8_t> source(bytes, 0x5A);
    std::vector<std::uint8_t> target(bytes);

    const double store = nanoseconds_per_frame([&](int i) {
        source[0] = static_cast<std::uint8_t>(i);
        buffer.store(source.data(), source.size(), static_cast<std::uint64_t>(i));
    });
    const double bare = nanoseconds_per_frame([&](int i) {
        source[0] = static_cast<std::uint8_t>(i);
        std::memcpy(target.data(), source.data(), bytes);
    });
    if (buffer.image.data[0] != target[0])
        return 1;
    std::printf("frame copy 1920x1200 Mono8 (%zu bytes), %d frames\n", bytes, frames);
    std::printf("frame_buffer::store: %10.1f us/frame\n", store / 1000);
    std::printf("bare memcpy:         %10.1f us/frame\n", bare / 1000);
    std::printf("ratio:               %10.2f (goal <= 1.5)\n", store / bare);

    // For reference: the per-pixel path a 16-bit camera takes (no goal).
    frame_buffer wide(frame_geometry{1920, 1200, J_GVSP_PIX_MONO16, 16});
    std::vector<std::uint8_t> wide_source(static_cast<std::size_t>(wide.frame_bytes()), 0x5A);
    const double convert = nanoseconds_per_frame([&](int i) {
        wide.store(wide_source.data(), wide_source.size(), static_cast<std::uint64_t>(i));
    });
    std::printf("Mono16 to 8 bits:    %10.1f us/frame\n", convert / 1000);
    return 0;
}
