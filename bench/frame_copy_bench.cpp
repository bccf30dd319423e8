// The capture thread's per-frame copy into the frame buffer (exclusive lock included) against a
// bare memcpy of the same bytes, for a 1920 x 1200 Mono8 frame. Goal: at most 1.5 times memcpy.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "camera/grab_modes.h"

namespace {
constexpr int frames = 2000;

// A whole frame of the geometry over the source's bytes.
camera_frame frame_of(const frame_geometry& geometry, const std::vector<std::uint8_t>& source,
                      int i) {
    camera_frame frame;
    frame.data = source.data();
    frame.size = source.size();
    frame.width = geometry.width;
    frame.height = geometry.height;
    frame.pixel_format = geometry.pixel_format;
    frame.timestamp = static_cast<std::uint64_t>(i);
    return frame;
}

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
    const frame_geometry geometry{1920, 1200, 0x01080001, 8}; // Mono8
    frame_buffer buffer(geometry);
    const auto bytes = static_cast<std::size_t>(buffer.frame_bytes());
    std::vector<std::uint8_t> source(bytes, 0x5A);
    std::vector<std::uint8_t> target(bytes);

    const double store = nanoseconds_per_frame([&](int i) {
        source[0] = static_cast<std::uint8_t>(i);
        buffer.store(frame_of(geometry, source, i));
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

    // For reference: the conversions other cameras take (no goal).
    const std::pair<const char*, frame_geometry> others[] = {
        {"Mono16 to 8 bits:   ", {1920, 1200, 0x01100007, 16}},
        {"BayerRG8 to grey:   ", {1920, 1200, 0x01080009, 8}},
        {"RGB8 to grey:       ", {1920, 1200, 0x02180014, 24}}};
    for (const auto& [name, other] : others) {
        frame_buffer converted(other);
        const std::vector<std::uint8_t> other_source(
            static_cast<std::size_t>(converted.frame_bytes()), 0x5A);
        const double convert = nanoseconds_per_frame(
            [&](int i) { converted.store(frame_of(other, other_source, i)); });
        std::printf("%s %10.1f us/frame\n", name, convert / 1000);
    }
    return 0;
}
