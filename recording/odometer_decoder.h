#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

// One count read from the odometer line; kind is the length of the packet that carried it:
// 4 for format A, 7 for format B.
struct odometer_count {
    std::uint32_t value;
    int kind;
};

bool operator==(const odometer_count& a, const odometer_count& b);

// The counts completed by one byte: none, one, or one of each format with format A first.
class odometer_counts {
public:
    const odometer_count* begin() const { return items_.data(); }
    const odometer_count* end() const { return items_.data() + size_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const odometer_count& operator[](std::size_t i) const { return items_[i]; }

private:
    friend class odometer_decoder;
    void push_back(odometer_count count) { items_[size_++] = count; }

    std::array<odometer_count, 2> items_{};
    std::size_t size_ = 0;
};

// The last at most N bytes received since the window was last emptied.
template <std::size_t N> class odometer_window {
public:
    void append(std::uint8_t byte) {
        if (size_ == N) {
            std::memmove(bytes_.data(), bytes_.data() + 1, N - 1);
            --size_;
        }
        bytes_[size_++] = byte;
    }
    bool full() const { return size_ == N; }
    std::size_t size() const { return size_; }
    const std::array<std::uint8_t, N>& bytes() const { return bytes_; }
    void clear() { size_ = 0; }

private:
    std::array<std::uint8_t, N> bytes_{};
    std::size_t size_ = 0;
};

// Finds format A and format B packets in the odometer byte stream, fed one byte at a time. Both
// formats are looked for independently in the same bytes; a window is emptied only by a match of
// its own format, so the bytes of a recognised packet never start the next one of that format.
//
// The count bytes of a format B packet can form a format A packet (the B packet of count 0xC08040
// holds the A packet of count 4); reported, such a count looks like an odometer reset and splits
// the session. So a format A match that lies inside a format B packet still being received is held
// back until that packet is decided, at most two bytes later: it is dropped when the B packet
// completes with a valid checksum, and reported then otherwise. A clean format A stream never
// holds a match (its bytes never run 0x53 0x04).
// Not thread-safe: one decoder per reader, created empty with it.
class odometer_decoder {
public:
    odometer_counts push(std::uint8_t byte);

private:
    struct held_count {
        std::uint32_t value = 0;
        std::size_t bytes_to_wait = 0;
        bool present = false;
    };

    void release_held(bool format_b_matched, odometer_counts& counts);
    void accept_format_a(std::uint32_t value, bool format_b_matched, odometer_counts& counts);
    std::size_t bytes_until_format_b_decided() const;

    odometer_window<4> window_a_;
    odometer_window<7> window_b_;
    held_count held_;
};

// The packets an odometer sends for a count. Format A carries only the count's low 24 bits.
std::array<std::uint8_t, 4> encode_format_a(std::uint32_t count);
std::array<std::uint8_t, 7> encode_format_b(std::uint32_t count);
