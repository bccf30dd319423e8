#include "recording/odometer_decoder.h"

#include <algorithm>
#include <deque>
#include <optional>
#include <ostream>
#include <random>
#include <vector>

#include <gtest/gtest.h>

std::ostream& operator<<(std::ostream& out, const odometer_count& count) {
    return out << "{" << count.value << ", kind " << count.kind << "}";
}

namespace {
using bytes = std::vector<std::uint8_t>;
using counts = std::vector<odometer_count>;

counts decode(odometer_decoder& decoder, const bytes& stream) {
    counts found;
    for (std::uint8_t byte : stream)
        for (const odometer_count& count : decoder.push(byte))
            found.push_back(count);
    return found;
}

counts decode(const bytes& stream) {
    odometer_decoder decoder;
    return decode(decoder, stream);
}

template <std::size_t N> void append(bytes& stream, const std::array<std::uint8_t, N>& packet) {
    stream.insert(stream.end(), packet.begin(), packet.end());
}

// Four bytes whose top bits number them 0 to 3, written out independently of the decoder.
bool looks_like_format_a(const std::uint8_t* b) {
    return b[0] >> 6 == 0 && b[1] >> 6 == 1 && b[2] >> 6 == 2 && b[3] >> 6 == 3;
}

std::uint32_t format_a_value(const std::uint8_t* b) {
    return (b[0] & 0x3Fu) + (b[1] & 0x3Fu) * 64 + (b[2] & 0x3Fu) * 4096 + (b[3] & 0x3Fu) * 262144;
}

bool looks_like_format_b(const std::uint8_t* b) {
    const unsigned sum = b[0] + b[1] + b[2] + b[3] + b[4] + b[5];
    return b[0] == 'S' && b[1] == 4 && b[6] == sum % 256;
}

std::uint32_t format_b_value(const std::uint8_t* b) {
    return b[2] + b[3] * 0x100u + b[4] * 0x10000u + b[5] * 0x1000000u;
}
} // namespace

TEST(odometer_decoder, decodes_the_documented_byte_streams) {
    const std::pair<bytes, counts> cases[] = {
        {{0x05, 0x41, 0x82, 0xC3}, {{794693, 4}}},
        {{0x53, 0x04, 0x10, 0x27, 0x00, 0x00, 0x8E}, {{10000, 7}}},
        {{0x53, 0x04, 0x10, 0x27, 0x00, 0x00, 0x8F}, {}},
        {{0x52, 0x04, 0x10, 0x27, 0x00, 0x00, 0x8D}, {}},
        {{0x53, 0x05, 0x10, 0x27, 0x00, 0x00, 0x8F}, {}},
        {{0xFF, 0x13, 0x53, 0x99, 0x53, 0x04, 0x10, 0x27, 0x00, 0x00, 0x8E}, {{10000, 7}}},
        {{0xC0, 0x00, 0x05, 0x41, 0x82, 0xC3}, {{794693, 4}}},
        {{0x00, 0x40, 0x80, 0xC0, 0x3F, 0x7F, 0xBF, 0xFF}, {{0, 4}, {16777215, 4}}},
        {{0x53, 0x04, 0xFF, 0xFF, 0xFF, 0xFF, 0x53}, {{4294967295u, 7}}},
        {{0xC3, 0x82, 0x41, 0x05}, {}},
        {{0x05, 0x41, 0xFF, 0x82, 0xC3}, {}},
        {{0x53, 0x04, 0x10, 0x27, 0x00, 0x8E}, {}},
        // A format B match leaves the format A window alone.
        {{0x53, 0x04, 0x00, 0x00, 0x00, 0x05, 0x5C, 0x82, 0xC3},
         {{0x05000000u, 7}, {5 | 0x1C << 6 | 2 << 12 | 3 << 18, 4}}},
    };
    for (const auto& [stream, expected] : cases)
        EXPECT_EQ(decode(stream), expected) << ::testing::PrintToString(stream);
    EXPECT_EQ(encode_format_a(0xFF000000u | 794693),
              (std::array<std::uint8_t, 4>{0x05, 0x41, 0x82, 0xC3}));
}

// A format A match made of a format B packet's bytes is held until that packet is decided: a valid
// packet drops it, a damaged one lets it through, late. The three places an A packet can sit in a
// B packet: from the length byte, from the first count byte, and ending with the checksum.
TEST(odometer_decoder, format_a_inside_a_format_b_packet_counts_only_if_the_packet_fails) {
    const std::uint32_t holders[] = {0xC08040u, 0xC0804000u, 0x834201A6u};
    for (std::uint32_t count : holders) {
        const auto packet = encode_format_b(count);
        bytes stream(packet.begin(), packet.end());
        std::size_t a_end = 0;
        for (std::size_t end = 4; end <= 7 && a_end == 0; ++end)
            a_end = looks_like_format_a(stream.data() + end - 4) ? end : 0;
        ASSERT_NE(a_end, 0u) << count;
        EXPECT_EQ(decode(stream), (counts{{count, 7}})) << count;
        stream[6] ^= 0x01; // keeps the marker bits of a checksum that ends the A packet
        const odometer_count inner{format_a_value(stream.data() + a_end - 4), 4};
        odometer_decoder decoder;
        EXPECT_EQ(decode(decoder, bytes(stream.begin(), stream.end() - 1)), counts{}) << count;
        const odometer_counts last = decoder.push(stream.back());
        EXPECT_EQ(counts(last.begin(), last.end()), counts{inner}) << count;
    }
}

// Every count of the bands where one packet in sixteen holds an A packet, and counts from the
// whole range: a clean format B stream yields exactly what was sent.
TEST(odometer_decoder, format_b_streams_yield_exactly_their_counts) {
    std::mt19937 random(5);
    bytes stream;
    counts sent;
    for (std::uint32_t count = 0xC00000u; count <= 0x1000000u; count += 1 + random() % 4) {
        append(stream, encode_format_b(count));
        sent.push_back({count, 7});
    }
    for (int i = 0; i < 200000; ++i) {
        const auto count = static_cast<std::uint32_t>(random());
        append(stream, encode_format_b(count));
        sent.push_back({count, 7});
    }
    EXPECT_EQ(decode(stream), sent);
}

// The count bytes of this packet begin with 53 04; two more bytes would complete a second
// packet from them if the matched bytes stayed in the window.
TEST(odometer_decoder, bytes_of_a_matched_packet_cannot_start_the_next_one) {
    const auto packet = encode_format_b(0xC3C20453u);
    bytes stream(packet.begin(), packet.end());
    const bytes inner = {stream[2], stream[3], stream[4], stream[5], stream[6], 0x10};
    unsigned inner_sum = 0;
    for (std::uint8_t byte : inner)
        inner_sum += byte;
    stream.insert(stream.end(), {0x10, static_cast<std::uint8_t>(inner_sum)});
    ASSERT_TRUE(looks_like_format_b(stream.data() + 2));
    EXPECT_EQ(decode(stream), (counts{{0xC3C20453u, 7}}));
}

namespace {
// The reading rule written out plainly with queues, to hold the decoder against. Each count comes
// with the number of bytes received since its packet ended (a held format A match arrives late).
struct placed_count {
    odometer_count count;
    std::size_t late;
};

class queue_decoder {
public:
    std::vector<placed_count> push(std::uint8_t byte) {
        std::vector<placed_count> found;
        a_.push_back(byte);
        b_.push_back(byte);
        while (a_.size() > 4)
            a_.pop_front();
        while (b_.size() > 7)
            b_.pop_front();
        const bytes a(a_.begin(), a_.end());
        const bytes b(b_.begin(), b_.end());
        const bool b_match = b.size() == 7 && looks_like_format_b(b.data());
        if (held_ && (b_match || ++held_->late == held_wait_)) {
            if (!b_match)
                found.push_back(*held_);
            held_.reset();
        }
        if (a.size() == 4 && looks_like_format_a(a.data())) {
            hold_or_report({{format_a_value(a.data()), 4}, 0}, b, b_match, found);
            a_.clear();
        }
        if (b_match) {
            found.push_back({{format_b_value(b.data()), 7}, 0});
            b_.clear();
        }
        return found;
    }

private:
    // A B packet that could hold the match starts with 'S' 4 at most seven bytes from the end.
    void hold_or_report(placed_count match, const bytes& b, bool b_match,
                        std::vector<placed_count>& found) {
        if (b_match)
            return;
        held_wait_ = 0;
        for (std::size_t start = 0; start + 5 <= b.size(); ++start)
            if (b.size() - start <= 7 && b[start] == 'S' && b[start + 1] == 4)
                held_wait_ = std::max(held_wait_, start + 7 - b.size());
        if (held_wait_ == 0)
            found.push_back(match);
        else
            held_ = match;
    }

    std::deque<std::uint8_t> a_;
    std::deque<std::uint8_t> b_;
    std::optional<placed_count> held_;
    std::size_t held_wait_ = 0;
};

// Random bytes mixed with whole, cut short and damaged packets of both formats.
bytes hostile_stream(std::uint64_t seed, std::size_t length) {
    std::mt19937_64 random(seed);
    bytes stream;
    while (stream.size() < length) {
        const auto choice = random() % 8;
        const auto count = static_cast<std::uint32_t>(random());
        bytes piece{static_cast<std::uint8_t>(random())};
        if (choice < 2) {
            const auto packet = encode_format_a(count);
            piece.assign(packet.begin(), packet.end());
        } else if (choice < 4) {
            const auto packet = encode_format_b(count);
            piece.assign(packet.begin(), packet.end());
        }
        if (choice == 1 || choice == 3) {
            if (random() % 2)
                piece.resize(1 + random() % (piece.size() - 1));
            else
                piece[random() % piece.size()] ^= static_cast<std::uint8_t>(1 + random() % 255);
        }
        stream.insert(stream.end(), piece.begin(), piece.end());
    }
    return stream;
}

// A format B count whose packet holds no other 'S' (noise before it could then start a packet).
std::uint32_t plain_format_b_count(std::mt19937_64& random) {
    for (;;) {
        const auto count = static_cast<std::uint32_t>(random());
        const auto packet = encode_format_b(count);
        if (std::find(packet.begin() + 2, packet.end(), 0x53) == packet.end())
            return count;
    }
}
} // namespace

TEST(odometer_decoder, random_streams_yield_only_counts_of_packets_received) {
    for (std::uint64_t seed : {1u, 2u, 3u}) {
        const bytes stream = hostile_stream(seed, 200000);
        odometer_decoder decoder;
        queue_decoder reference;
        std::size_t yielded[8] = {};
        for (std::size_t i = 0; i < stream.size(); ++i) {
            const odometer_counts found = decoder.push(stream[i]);
            const std::vector<placed_count> expected = reference.push(stream[i]);
            ASSERT_EQ(found.size(), expected.size()) << "seed " << seed << " byte " << i;
            for (std::size_t n = 0; n < found.size(); ++n) {
                const odometer_count& count = found[n];
                ASSERT_EQ(count, expected[n].count) << "seed " << seed << " byte " << i;
                ASSERT_TRUE(count.kind == 4 || count.kind == 7) << count.kind;
                const std::size_t end = i + 1 - expected[n].late;
                ASSERT_GE(end, std::size_t(count.kind));
                const std::uint8_t* packet = stream.data() + end - count.kind;
                ASSERT_TRUE(count.kind == 4 ? looks_like_format_a(packet)
                                            : looks_like_format_b(packet));
                ASSERT_EQ(count.value,
                          count.kind == 4 ? format_a_value(packet) : format_b_value(packet));
                ++yielded[count.kind];
            }
        }
        EXPECT_GT(yielded[4], 5000u) << "the stream should hold many format A packets";
        EXPECT_GT(yielded[7], 5000u) << "the stream should hold many format B packets";
    }
}

// Noise here has top bits 01 or 10 and is never 'S', so it can neither end nor start a packet.
TEST(odometer_decoder, packets_among_noise_yield_exactly_the_counts_sent) {
    for (std::uint64_t seed : {11u, 12u, 13u}) {
        std::mt19937_64 random(seed);
        bytes stream;
        counts sent;
        while (stream.size() < 200000) {
            for (auto n = random() % 4; n > 0; --n) {
                const auto noise = static_cast<std::uint8_t>(0x40 + random() % 0x80);
                stream.push_back(noise == 0x53 ? 0x54 : noise);
            }
            if (random() % 2) {
                const auto count = static_cast<std::uint32_t>(random());
                append(stream, encode_format_a(count));
                sent.push_back({count & 0xFFFFFF, 4});
            } else {
                const std::uint32_t count = plain_format_b_count(random);
                append(stream, encode_format_b(count));
                sent.push_back({count, 7});
            }
        }
        EXPECT_EQ(decode(stream), sent) << "seed " << seed;
    }
}
