#include "recording/odometer_decoder.h"

#include "base/encoding.h"

namespace {
constexpr std::uint8_t format_b_start = 0x53;
constexpr std::uint8_t format_b_length = 0x04;

// Bits 7-6 number the bytes of a format A packet 0 to 3; bits 5-0 carry the count.
bool is_format_a(const std::array<std::uint8_t, 4>& b) {
    for (std::size_t i = 0; i < b.size(); ++i)
        if ((b[i] & 0xC0) != (i << 6))
            return false;
    return true;
}

std::uint32_t format_a_count(const std::array<std::uint8_t, 4>& b) {
    std::uint32_t count = 0;
    for (std::size_t i = 0; i < b.size(); ++i)
        count |= std::uint32_t{b[i] & 0x3Fu} << (6 * i);
    return count;
}

std::uint8_t format_b_checksum(const std::uint8_t* first_six) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < 6; ++i)
        sum += first_six[i];
    return static_cast<std::uint8_t>(sum);
}

bool is_format_b(const std::array<std::uint8_t, 7>& b) {
    return b[0] == format_b_start && b[1] == format_b_length && b[6] == format_b_checksum(b.data());
}

std::uint32_t format_b_count(const std::array<std::uint8_t, 7>& b) {
    return read_little_endian<std::uint32_t>(b.data() + 2);
}
} // namespace

bool operator==(const odometer_count& a, const odometer_count& b) {
    return a.value == b.value && a.kind == b.kind;
}

odometer_counts odometer_decoder::push(std::uint8_t byte) {
    odometer_counts counts;
    window_a_.append(byte);
    window_b_.append(byte);
    const bool format_b_matched = window_b_.full() && is_format_b(window_b_.bytes());
    release_held(format_b_matched, counts);
    if (window_a_.full() && is_format_a(window_a_.bytes())) {
        accept_format_a(format_a_count(window_a_.bytes()), format_b_matched, counts);
        window_a_.clear();
    }
    if (format_b_matched) {
        counts.push_back({format_b_count(window_b_.bytes()), 7});
        window_b_.clear();
    }
    return counts;
}

// Any format B packet completing while a match is held contains all four of its bytes.
void odometer_decoder::release_held(bool format_b_matched, odometer_counts& counts) {
    if (!held_.present)
        return;
    if (format_b_matched) {
        held_ = held_count{};
        return;
    }
    if (--held_.bytes_to_wait > 0)
        return;
    counts.push_back({held_.value, 4});
    held_ = held_count{};
}

// A format B packet completing with this byte covers all four bytes of the match.
void odometer_decoder::accept_format_a(std::uint32_t value, bool format_b_matched,
                                       odometer_counts& counts) {
    if (format_b_matched)
        return;
    const std::size_t wait = bytes_until_format_b_decided();
    if (wait == 0)
        counts.push_back({value, 4});
    else
        held_ = held_count{value, wait, true};
}

// The format A match fills the last four bytes of the B window. A B packet that could hold them
// starts with 0x53 0x04 at most three bytes before them; the latest such start decides last.
std::size_t odometer_decoder::bytes_until_format_b_decided() const {
    const auto& b = window_b_.bytes();
    const std::size_t size = window_b_.size();
    for (std::size_t back = 5; back <= 7 && back <= size; ++back) {
        const std::size_t start = size - back;
        if (b[start] == format_b_start && b[start + 1] == format_b_length)
            return 7 - back;
    }
    return 0;
}

std::array<std::uint8_t, 4> encode_format_a(std::uint32_t count) {
    std::array<std::uint8_t, 4> packet{};
    for (std::size_t i = 0; i < packet.size(); ++i)
        packet[i] = static_cast<std::uint8_t>(i << 6 | ((count >> (6 * i)) & 0x3F));
    return packet;
}

std::array<std::uint8_t, 7> encode_format_b(std::uint32_t count) {
    std::array<std::uint8_t, 7> packet{format_b_start, format_b_length};
    write_little_endian(packet.data() + 2, count);
    packet[6] = format_b_checksum(packet.data());
    return packet;
}
