#include "recording/odometer_decoder.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <pty.h>
#include <random>
#include <termios.h>
#include <unistd.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/read.hpp>
#include <boost/system/system_error.hpp>
#include <gmock/gmock.h>

#include "harness/child_process.h"
#include "recording/serial_line.h"

// The odometer line: packet decoding, the serial port set-up, and the odometer simulator as a
// peer (its link is followed by the recorder's own test, its refused options by the tools' table).
std::ostream& operator<<(std::ostream& out, const odometer_count& count) {
    return out << "{" << count.value << ", kind " << count.kind << "}";
}

namespace {
using bytes = std::vector<std::uint8_t>;
// Each count with the index of the byte that yields it.
using counts = std::vector<std::pair<std::size_t, odometer_count>>;

counts decode(const bytes& stream) {
    odometer_decoder decoder;
    counts found;
    for (std::size_t i = 0; i < stream.size(); ++i)
        for (const odometer_count& count : decoder.push(stream[i]))
            found.push_back({i, count});
    return found;
}

// The packet formats written out independently of the decoder. A: four bytes whose top bits
// number them 0 to 3. B: 'S' 4, the count, the sum of the six bytes before.
std::optional<std::uint32_t> format_a(const std::uint8_t* b) {
    if (b[0] >> 6 != 0 || b[1] >> 6 != 1 || b[2] >> 6 != 2 || b[3] >> 6 != 3)
        return std::nullopt;
    return (b[0] & 0x3Fu) + (b[1] & 0x3Fu) * 64 + (b[2] & 0x3Fu) * 4096 + (b[3] & 0x3Fu) * 262144;
}

std::optional<std::uint32_t> format_b(const std::uint8_t* b) {
    if (b[0] != 'S' || b[1] != 4 || b[6] != (b[0] + b[1] + b[2] + b[3] + b[4] + b[5]) % 256)
        return std::nullopt;
    return b[2] + b[3] * 0x100u + b[4] * 0x10000u + b[5] * 0x1000000u;
}
// The reading rule stated over the whole stream: each format's packets are found left to right
// without overlapping one another, and a format A packet inside a format B one is none. A format A
// count comes once no format B packet that could still hold it (one whose 'S' 4 came after the last
// match) is pending.
counts plain_reading(const bytes& s) {
    counts found;
    std::vector<std::size_t> b_ends{0}; // one past each format B packet
    for (std::size_t end = 7; end <= s.size(); ++end)
        if (const auto b = end - 7 >= b_ends.back() ? format_b(&s[end - 7]) : std::nullopt) {
            found.push_back({end - 1, {*b, 7}});
            b_ends.push_back(end);
        }
    for (std::size_t end = 4, a_free = 0; end <= s.size(); ++end) {
        const auto a = end - 4 >= a_free ? format_a(&s[end - 4]) : std::nullopt;
        const auto b_next = std::lower_bound(b_ends.begin(), b_ends.end(), end);
        if (!a)
            continue;
        a_free = end;
        if (b_next != b_ends.end() && *b_next - 7 <= end - 4)
            continue;
        std::size_t yield = end - 1;
        for (std::size_t back = 7; back >= 5; --back)
            if (back <= end - *std::prev(b_next) && s[end - back] == 'S' && s[end - back + 1] == 4)
                yield = end - back + 6;
        if (yield < s.size())
            found.push_back({yield, {*a, 4}});
    }
    std::sort(found.begin(), found.end(),
              [](const auto& x, const auto& y) { return x.first < y.first; });
    return found;
}

// Random bytes mixed with whole, cut short and damaged packets of both formats.
bytes hostile_stream(std::uint64_t seed, std::size_t length) {
    std::mt19937_64 random(seed);
    bytes stream;
    while (stream.size() < length) {
        const auto choice = random() % 8;
        const auto count = static_cast<std::uint32_t>(random());
        bytes piece{static_cast<std::uint8_t>(random())};
        const auto a = encode_format_a(count);
        const auto b = encode_format_b(count);
        if (choice < 2)
            piece.assign(a.begin(), a.end());
        else if (choice < 4)
            piece.assign(b.begin(), b.end());
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

// Every byte the simulator sends until it exits and the pty hangs up.
bytes bytes_until_hangup(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_NOCTTY);
    bytes stream;
    std::uint8_t chunk[256];
    for (ssize_t got; fd >= 0 && (got = read(fd, chunk, sizeof chunk)) > 0;)
        stream.insert(stream.end(), chunk, chunk + got);
    close(fd);
    return stream;
}
} // namespace

// Damaged, cut short and misplaced packets are the random streams' below.
TEST(odometer_decoder, decodes_the_documented_byte_streams) {
    const std::pair<bytes, counts> cases[] = {
        {{0x05, 0x41, 0x82, 0xC3}, {{3, {794693, 4}}}},
        {{0x53, 0x04, 0x10, 0x27, 0x00, 0x00, 0x8E}, {{6, {10000, 7}}}},
        {{0x00, 0x40, 0x80, 0xC0, 0x3F, 0x7F, 0xBF, 0xFF}, {{3, {0, 4}}, {7, {16777215, 4}}}},
        {{0x53, 0x04, 0xFF, 0xFF, 0xFF, 0xFF, 0x53}, {{6, {4294967295u, 7}}}},
        // The count bytes begin 53 04: they must not start a second packet with the two after.
        {{0x53, 0x04, 0x53, 0x04, 0xC2, 0xC3, 0x33, 0x10, 0x1F}, {{6, {0xC3C20453u, 7}}}},
        // A format B match leaves the format A window alone.
        {{0x53, 0x04, 0x00, 0x00, 0x00, 0x05, 0x5C, 0x82, 0xC3},
         {{6, {0x05000000u, 7}}, {8, {5 | 0x1C << 6 | 2 << 12 | 3 << 18, 4}}}},
    };
    for (const auto& [stream, expected] : cases)
        EXPECT_EQ(decode(stream), expected) << ::testing::PrintToString(stream);
    EXPECT_EQ(encode_format_a(0xFF000000u | 794693),
              (std::array<std::uint8_t, 4>{0x05, 0x41, 0x82, 0xC3}));
}

TEST(odometer_decoder, random_streams_yield_the_counts_of_the_plain_reading_rule) {
    for (std::uint64_t seed : {1u, 2u, 3u}) {
        const bytes stream = hostile_stream(seed, 200000);
        const counts yielded = decode(stream);
        const auto expected = plain_reading(stream);
        const auto first_difference =
            std::mismatch(yielded.begin(), yielded.end(), expected.begin(), expected.end());
        ASSERT_EQ(first_difference.first, yielded.end())
            << "seed " << seed << ": " << testing::PrintToString(*first_difference.first);
        ASSERT_EQ(first_difference.second, expected.end()) << "seed " << seed;
        const auto a = std::count_if(yielded.begin(), yielded.end(),
                                     [](const auto& y) { return y.second.kind == 4; });
        EXPECT_GT(std::min<std::size_t>(a, yielded.size() - a), 5000u) << "both formats, often";
    }
}

TEST(serial_line, device_path_maps_windows_names_keeps_absolute_paths_else_under_dev) {
    const std::pair<const char*, const char*> cases[] = {
        {"COM1", "/dev/ttyS0"},  {"com12", "/dev/ttyS11"},
        {"COM0", "/dev/COM0"},   {"COM", "/dev/COM"},
        {"COM1a", "/dev/COM1a"}, {"ttyS0", "/dev/ttyS0"},
        {"pts/3", "/dev/pts/3"}, {"/tmp/odometer", "/tmp/odometer"},
    };
    for (const auto& [setting, path] : cases)
        EXPECT_EQ(serial_device_path(setting), path) << setting;
}

// The line starts with settings unlike the odometer's, so that a set-up that leaves any of them
// alone shows. Raw as a serial line must be: control characters and line ends pass unchanged.
// Each error names the step that failed and the system's reason (a missing port: the write
// thread's test).
TEST(serial_line, open_applies_the_five_line_settings_reads_bytes_unchanged_and_names_errors) {
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0) << std::strerror(errno);
    termios settings{};
    tcgetattr(slave, &settings);
    cfsetspeed(&settings, B9600);
    settings.c_cflag = (settings.c_cflag & ~CSIZE) | CS7 | PARENB | CSTOPB | CRTSCTS;
    settings.c_iflag |= IXON | IXOFF;
    ASSERT_EQ(tcsetattr(slave, TCSANOW, &settings), 0);
    boost::asio::io_context io;
    boost::asio::serial_port port(io), null_port(io);
    open_odometer_port(port, ptsname(master));
    ASSERT_EQ(tcgetattr(port.native_handle(), &settings), 0);
    EXPECT_EQ(std::make_pair(cfgetispeed(&settings), cfgetospeed(&settings)),
              std::make_pair(speed_t(B115200), speed_t(B115200)));
    EXPECT_EQ(settings.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t(CS8));
    EXPECT_EQ(settings.c_iflag & (IXON | IXOFF), tcflag_t(0));
    const std::array<std::uint8_t, 8> sent = {0x53, 0x04, 0x0D, 0x0A, 0x11, 0x13, 0x03, 0xFF};
    ASSERT_EQ(write(master, sent.data(), sent.size()), ssize_t(sent.size()));
    std::array<std::uint8_t, 8> received{};
    boost::asio::read(port, boost::asio::buffer(received));
    EXPECT_EQ(received, sent);
    close(slave);
    close(master);
    using testing::ThrowsMessage, testing::StrEq;
    using failure = boost::system::system_error;
    EXPECT_THAT([&] { open_odometer_port(null_port, "/dev/null"); },
                ThrowsMessage<failure>(StrEq(std::string("open: ") + std::strerror(ENOTTY))));
    null_port.assign(::open("/dev/null", O_RDWR));
    EXPECT_THAT([&] { apply_line_settings(null_port); },
                ThrowsMessage<failure>(StrEq(std::string("set_option: ") + std::strerror(ENOTTY))));
}

// Cruise rises from the start, stop repeats, reverse falls, reset returns to the start.
TEST(odometer_sim, sends_the_counts_of_its_profile_in_both_formats) {
    child_process sim({built_program("tresvik-odometer-sim"), "--seed", "7", "--pty", "--format",
                       "mixed", "--rate", "200", "--speed", "2000", "--start", "5000", "--profile",
                       "cruise:0.3s,stop:0.3s,reverse:0.3s,reset,cruise:0.2s"});
    const auto path = sim.line_after("odometer on ");
    ASSERT_TRUE(path);
    std::vector<std::uint32_t> seen;
    for (const auto& [at, count] : decode(bytes_until_hangup(*path)))
        seen.push_back(count.value);
    EXPECT_EQ(sim.wait(), 0);
    ASSERT_GE(seen.size(), 180u);
    EXPECT_EQ(seen.front(), 5000u);
    const auto top = std::max_element(seen.begin(), seen.end());
    EXPECT_GE(std::count(seen.begin(), seen.end(), *top), 50) << "stop repeats the count";
    const auto reset = std::find(top, seen.end(), 5000u);
    ASSERT_NE(reset, seen.end()) << "the reset goes back to the start";
    EXPECT_LT(*(reset - 1), *top) << "reverse fell before the reset";
    EXPECT_TRUE(std::is_sorted(seen.begin(), top + 1));
    EXPECT_TRUE(std::is_sorted(reset, seen.end()));
}
