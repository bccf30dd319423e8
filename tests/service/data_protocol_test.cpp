#include "service/data_protocol.h"

#include <gtest/gtest.h>

namespace {
frame_request parsed(const std::vector<unsigned char>& bytes) {
    const std::optional<frame_request> request = parse_frame_request(bytes.data(), bytes.size());
    EXPECT_TRUE(request.has_value());
    return request.value_or(frame_request{});
}

std::vector<unsigned char> as_vector(const std::array<unsigned char, short_request_size>& bytes) {
    return {bytes.begin(), bytes.end()};
}
} // namespace

TEST(data_protocol, requests_name_their_session_code_and_dpp) {
    const std::string twenty(20, 'F'), sixteen(16, 'S');
    const struct {
        std::vector<unsigned char> bytes;
        bool live;
        std::string code;
        std::uint32_t dpp;
    } cases[] = {
        {as_vector(short_request(0x1A2B, 3, 1500)), false, "0x1a2b : 0x3", 1500},
        {as_vector(short_request(0, 5, 7)), false, "0 : 0x5", 7},
        {as_vector(short_request(~0ull, 0xFFFFFFFFu, 4294967295u)), false,
         "0xffffffffffffffff : 0xffffffff", 4294967295u},
        {as_vector(short_request(0x1A2B, 0, 1500)), true, "", 1500},
        {long_request("A7", "12", 99), false, "A7 : 12", 99},
        {long_request(twenty, sixteen, 1), false, twenty + " : " + sixteen, 1},
        {long_request("A7", "", 3), true, "", 3},
    };
    for (const auto& c : cases) {
        const frame_request request = parsed(c.bytes);
        EXPECT_EQ(request.live, c.live) << c.code;
        EXPECT_EQ(request.session_code, c.code);
        EXPECT_EQ(request.dpp, c.dpp) << c.code;
    }
}

TEST(data_protocol, a_text_that_fills_its_field_ends_there) {
    std::vector<unsigned char> bytes = long_request(std::string(20, 'A'), "B", 0);
    EXPECT_EQ(parsed(bytes).session_code, std::string(20, 'A') + " : B");
    bytes = long_request(std::string(30, 'A'), std::string(30, 'B'), 0);
    EXPECT_EQ(parsed(bytes).session_code, std::string(20, 'A') + " : " + std::string(16, 'B'));
}

TEST(data_protocol, only_16_and_1024_bytes_are_requests) {
    const std::vector<unsigned char> bytes(2048, 1);
    for (std::size_t size : {0, 1, 15, 17, 32, 1023, 1025})
        EXPECT_FALSE(parse_frame_request(bytes.data(), size)) << size;
}

TEST(data_protocol, the_header_announces_the_length_lowest_byte_first) {
    std::vector<unsigned char> response(4 + 0x010203, 0);
    seal_response(response);
    EXPECT_EQ(response[0], 0x03);
    EXPECT_EQ(response[1], 0x02);
    EXPECT_EQ(response[2], 0x01);
    EXPECT_EQ(response[3], 0x00);
    EXPECT_EQ(announced_length(response.data()), 0x010203u);
}

TEST(data_protocol, service_port_is_the_low_16_bits_of_an_unsigned_decimal) {
    const std::pair<const char*, std::optional<std::uint16_t>> cases[] = {
        {"12600", 12600},
        {"78136", 12600},
        {"0", 0},
        {"65535", 65535},
        {"", std::nullopt},
        {"-1", std::nullopt},
        {"+80", std::nullopt},
        {"12600 ", std::nullopt},
        {"0x3138", std::nullopt},
        {"99999999999999999999", std::nullopt},
    };
    for (const auto& [text, port] : cases)
        EXPECT_EQ(parse_service_port(text), port) << '"' << text << '"';
}
