// Odometer decoder throughput: bytes per second through both packet windows, against the line
// rate of 115200 baud with 8N1 framing (11,520 bytes per second).
//
// The stream mixes format A and format B packets with noise bytes; the best of five passes is
// printed, with the time per byte and how many times the line rate the decoder keeps up with.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "recording/odometer_decoder.h"

namespace {
constexpr double line_bytes_per_second = 11520;

std::vector<std::uint8_t> odometer_stream(std::size_t length) {
    std::mt19937_64 random(1);
    std::vector<std::uint8_t> stream;
    for (std::uint32_t count = 0; stream.size() < length; ++count) {
        for (auto n = random() % 3; n > 0; --n)
            stream.push_back(static_cast<std::uint8_t>(random()));
        if (count % 2 == 0) {
            const auto packet = encode_format_a(count);
            stream.insert(stream.end(), packet.begin(), packet.end());
        } else {
            const auto packet = encode_format_b(count);
            stream.insert(stream.end(), packet.begin(), packet.end());
        }
    }
    return stream;
}

struct pass_result {
    double seconds;
    std::uint64_t counts;
    std::uint64_t checksum; // keeps the decoding from being optimised away
};

pass_result decode_pass(const std::vector<std::uint8_t>& stream) {
    odometer_decoder decoder;
    pass_result result{0, 0, 0};
    const auto start = std::chrono::steady_clock::now();
    for (std::uint8_t byte : stream)
        for (const odometer_count& count : decoder.push(byte)) {
            ++result.counts;
            result.checksum += count.value + count.kind;
        }
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return result;
}
} // namespace

int main() {
    const std::vector<std::uint8_t> stream = odometer_stream(64u << 20);
    pass_result best{1e9, 0, 0};
    for (int pass = 0; pass < 5; ++pass) {
        const pass_result result = decode_pass(stream);
        if (result.seconds < best.seconds)
            best = result;
    }
    const double rate = stream.size() / best.seconds;
    std::printf("odometer decoder: %zu bytes, %llu counts (checksum %llu)\n", stream.size(),
                static_cast<unsigned long long>(best.counts),
                static_cast<unsigned long long>(best.checksum));
    std::printf("  throughput: %.1f MB/s, %.2f ns per byte\n", rate / 1e6, 1e9 / rate);
    std::printf("  line rate:  %.0f bytes/s; decoder keeps up with %.0f times that\n",
                line_bytes_per_second, rate / line_bytes_per_second);
    return 0;
}
