// The odometer line's bytes, as a noisy line delivers them: any stream decodes without fault and
// gives at most one count of each format per byte; a packet of either format, sent alone, gives
// back its own count and nothing else.
#include <cstring>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "recording/odometer_decoder.h"

namespace {
template <std::size_t N>
std::vector<odometer_count> decode_alone(const std::array<std::uint8_t, N>& packet) {
    odometer_decoder decoder;
    std::vector<odometer_count> counts;
    for (std::uint8_t byte : packet)
        for (const odometer_count& count : decoder.push(byte))
            counts.push_back(count);
    return counts;
}

void check_stream(const std::uint8_t* data, std::size_t size) {
    odometer_decoder decoder;
    for (std::size_t i = 0; i < size; ++i) {
        const odometer_counts counts = decoder.push(data[i]);
        fuzz_require(counts.size() <= 2, "more than two counts from one byte");
        for (const odometer_count& count : counts) {
            fuzz_require(count.kind == 4 || count.kind == 7, "a count of no known format");
            fuzz_require(count.kind == 7 || count.value < (1u << 24), "format A beyond 24 bits");
        }
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    check_stream(data, size);
    if (size >= 4) {
        std::uint32_t value = 0;
        std::memcpy(&value, data, sizeof value);
        const std::vector<odometer_count> a = decode_alone(encode_format_a(value));
        fuzz_require(a.size() == 1 && a[0] == odometer_count{value & 0xFFFFFFu, 4},
                     "a format A packet alone does not give its count");
        const std::vector<odometer_count> b = decode_alone(encode_format_b(value));
        fuzz_require(b.size() == 1 && b[0] == odometer_count{value, 7},
                     "a format B packet alone does not give its count");
    }
    return 0;
}
