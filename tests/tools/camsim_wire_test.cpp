#include <algorithm>
#include <set>
#include <variant>
#include <vector>

#include <gtest/gtest.h>

#include "tools/camsim/gige_wire.h"
#include "tools/camsim/stream_history.h"

namespace {

using bytes = std::vector<std::uint8_t>;

std::optional<gige::request> parse(const bytes& datagram) {
    return gige::parse_request(datagram.data(), datagram.size());
}

gige::status refusal(const bytes& datagram) {
    const auto request = parse(datagram);
    if (!request || !std::holds_alternative<gige::unsupported>(request->body))
        return gige::success;
    return std::get<gige::unsupported>(request->body).reason;
}

// Requests as Aravis sends them, and what the camera must make of them.
TEST(camsim_wire, reads_the_requests_of_a_controller) {
    const auto discovery = parse({0x42, 0x11, 0x00, 0x02, 0x00, 0x00, 0xff, 0xff});
    ASSERT_TRUE(discovery && std::holds_alternative<gige::discovery>(discovery->body));
    EXPECT_EQ(discovery->id, 0xffff);
    EXPECT_TRUE(discovery->wants_ack);

    const auto memory = parse({0x42, 0x01, 0x00, 0x84, 0x00, 0x08, 0xff, 0x15, 0x00, 0x01, 0x02,
                               0x00, 0x00, 0x00, 0x02, 0x00});
    ASSERT_TRUE(memory);
    const auto& read = std::get<gige::read_memory>(memory->body);
    EXPECT_EQ(std::make_pair(read.address, read.size), std::make_pair(0x10200u, 0x200u));

    const auto writes = parse({0x42, 0x01, 0x00, 0x82, 0x00, 0x10, 0x00, 0x08, 0, 0, 0x0d, 0x04,
                               0,    0,    0x05, 0x78, 0,    0,    0x01, 0x24, 0, 0, 0,    1});
    ASSERT_TRUE(writes);
    using write = std::pair<std::uint32_t, std::uint32_t>;
    EXPECT_EQ(std::get<gige::write_registers>(writes->body).writes,
              (std::vector<write>{{0xd04, 0x578}, {0x124, 1}}));

    const auto plain = parse({0x42, 0x00, 0x00, 0x40, 0x00, 0x0c, 0x00, 0x09, 0xab, 0xcd,
                              0x00, 0x07, 0xee, 0x00, 0x00, 0x05, 0xee, 0x00, 0x01, 0x09});
    const auto extended =
        parse({0x42, 0x10, 0x00, 0x40, 0x00, 0x14, 0x00, 0x0a, 0, 0, 0, 0, 0x01, 0,
               0,    5,    0x01, 0,    0,    9,    0,    0,    0, 2, 0, 0, 0,    7});
    ASSERT_TRUE(plain && extended);
    const auto& resend = std::get<gige::packet_resend>(plain->body);
    EXPECT_EQ(std::tie(resend.block_id, resend.first, resend.last),
              std::make_tuple(std::uint64_t{7}, 5u, 0x109u))
        << "the high bits of the block's word and of the packet ids are reserved";
    const auto& wide = std::get<gige::packet_resend>(extended->body);
    EXPECT_EQ(std::tie(wide.block_id, wide.first, wide.last),
              std::make_tuple(0x200000007ull, 0x01000005u, 0x01000009u));
    EXPECT_FALSE(plain->wants_ack);
}

// Datagrams that are no command are dropped; commands whose body does not fit are refused with
// a status, never read past the datagram.
TEST(camsim_wire, drops_or_refuses_what_does_not_fit) {
    for (const bytes& none : {bytes{0x42, 0x01, 0x00, 0x80, 0x00, 0x04, 0x00},
                              bytes{0x43, 0x01, 0x00, 0x80, 0x00, 0x00, 0x00, 0x01},
                              bytes{0x42, 0x01, 0x00, 0x80, 0x00, 0x08, 0x00, 0x01, 0, 0, 0, 4}})
        EXPECT_FALSE(parse(none)) << none.size();
    const std::pair<bytes, gige::status> refused[] = {
        {{0x42, 0x01, 0x00, 0x04, 0x00, 0x00, 0x00, 0x01}, gige::not_implemented},
        {{0x42, 0x01, 0x00, 0x80, 0x00, 0x02, 0x00, 0x01, 0, 4}, gige::invalid_parameter},
        {{0x42, 0x01, 0x00, 0x80, 0x00, 0x00, 0x00, 0x01}, gige::invalid_parameter},
        {{0x42, 0x01, 0x00, 0x82, 0x00, 0x04, 0x00, 0x01, 0, 0, 1, 0}, gige::invalid_parameter},
        {{0x42, 0x01, 0x00, 0x84, 0x00, 0x08, 0x00, 0x01, 0, 0, 0, 0, 0, 0, 0x02, 0x19},
         gige::invalid_parameter},
        {{0x42, 0x01, 0x00, 0x86, 0x00, 0x04, 0x00, 0x01, 0, 0, 1, 0}, gige::invalid_parameter},
        {{0x42, 0x10, 0x00, 0x40, 0x00, 0x0c, 0x00, 0x01, 0, 0, 0, 7, 0, 0, 0, 1, 0, 0, 0, 2},
         gige::invalid_parameter},
    };
    for (const auto& [datagram, reason] : refused)
        EXPECT_EQ(refusal(datagram), reason) << std::hex << datagram[3] + 0;
}

TEST(camsim_wire, writes_acknowledges_and_stream_packets) {
    EXPECT_EQ(gige::acknowledge(gige::read_memory_cmd, 0xff15, gige::success,
                                gige::memory_read_body(0x200, {1, 2, 3, 4})),
              (bytes{0, 0, 0, 0x85, 0, 8, 0xff, 0x15, 0, 0, 2, 0, 1, 2, 3, 4}));
    EXPECT_EQ(
        gige::acknowledge(gige::write_register_cmd, 9, gige::access_denied, gige::written_count(1)),
        (bytes{0x80, 0x06, 0, 0x83, 0, 4, 0, 9, 0, 0, 0, 1}));
    const auto header = gige::stream_header(0x1234, gige::packet_kind::data, 0x0abcde);
    EXPECT_EQ(bytes(header.begin(), header.end()), (bytes{0, 0, 0x12, 0x34, 3, 0x0a, 0xbc, 0xde}));
    const auto leader = gige::leader_body({0x0102030405060708, 0x01080001, 640, 480, 2, 3});
    EXPECT_EQ(bytes(leader.begin(), leader.end()),
              (bytes{0, 0,    0, 1, 1, 2,    3, 4, 5, 6, 7, 8, 1, 8, 0, 1, 0, 0,
                     2, 0x80, 0, 0, 1, 0xe0, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 0}));
    const auto trailer = gige::trailer_body(480);
    EXPECT_EQ(bytes(trailer.begin(), trailer.end()), (bytes{0, 0, 0, 1, 0, 0, 1, 0xe0}));
    // The packet size register's flags in its high bits do not count.
    const gige::block_layout layout{640 * 480, gige::data_per_packet(0xC0000000 | 1400)};
    EXPECT_EQ(layout.per_packet, 1364u);
    EXPECT_EQ(layout.data_packets(), 226u);
    EXPECT_EQ(layout.trailer_id(), 227u);
    EXPECT_EQ((gige::block_layout{2728, 1364}.data_packets()), 2u);
    EXPECT_EQ(gige::data_per_packet(20), 1u);
}

// The last blocks stay findable by id until later ones replace them; ids skip 0 on wrapping.
TEST(camsim_stream, history_holds_the_last_blocks_and_loss_keeps_to_its_share) {
    block_history history(4);
    for (int i = 0; i < 5; ++i)
        history.next().bytes.assign(1, static_cast<std::uint8_t>(i));
    EXPECT_EQ(history.held(1), nullptr);
    for (std::uint64_t id = 2; id <= 5; ++id)
        ASSERT_TRUE(history.held(id) && history.held(id)->bytes[0] == id - 1) << id;
    EXPECT_EQ(history.held(6), nullptr);
    for (int i = 5; i < 0xFFFF; ++i)
        history.next();
    EXPECT_EQ(history.next().block_id, 1u);

    for (std::uint32_t share : {0u, 1u, 10u, 1000u}) {
        packet_loss loss(share, 7);
        std::set<std::vector<bool>> patterns;
        for (int window = 0; window < 5; ++window) {
            std::vector<bool> dropped(1000);
            std::generate(dropped.begin(), dropped.end(), [&] { return loss.drop_next(); });
            EXPECT_EQ(std::count(dropped.begin(), dropped.end(), true), share) << share;
            patterns.insert(dropped);
        }
        EXPECT_EQ(patterns.size(), share % 1000 == 0 ? 1u : 5u) << "places drawn anew";
    }
}

} // namespace
