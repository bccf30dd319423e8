#include "service/data_protocol.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "service/png_encoder.h"
#include "tests/recording/raw_session.h"

using namespace std::chrono_literals;

// Texts longer than their field (20 and 16 bytes) are cut, and one that fills its field ends
// there. A second code field of 0 or "" (the session being recorded) is the service's test's.
TEST(data_protocol, requests_name_their_session_code_and_dpp_and_responses_their_length) {
    const std::string twenty(20, 'F'), sixteen(16, 'S');
    const auto short_form = [](auto... numbers) {
        const auto bytes = short_request(numbers...);
        return std::vector<unsigned char>(bytes.begin(), bytes.end());
    };
    const struct {
        std::vector<unsigned char> bytes;
        std::string code;
        std::uint32_t dpp;
    } cases[] = {
        {short_form(0x1A2B, 3, 1500), "0x1a2b : 0x3", 1500},
        {short_form(0, 5, 7), "0 : 0x5", 7},
        {short_form(~0ull, 0xFFFFFFFFu, 4294967295u), "0xffffffffffffffff : 0xffffffff",
         4294967295u},
        {long_request("A7", "12", 99), "A7 : 12", 99},
        {long_request(twenty, sixteen, 1), twenty + " : " + sixteen, 1},
        {long_request(twenty + "A", sixteen + "B", 2), twenty + " : " + sixteen, 2},
    };
    for (const auto& c : cases) {
        const std::optional<frame_request> request =
            parse_frame_request(c.bytes.data(), c.bytes.size());
        ASSERT_TRUE(request) << c.code;
        EXPECT_EQ(std::tie(request->live, request->session_code, request->dpp),
                  std::make_tuple(false, c.code, c.dpp));
    }
    const std::vector<unsigned char> bytes(2048, 1);
    for (std::size_t size : {0, 15, 17, 1023, 1025})
        EXPECT_FALSE(parse_frame_request(bytes.data(), size)) << size;
    std::vector<unsigned char> response(4 + 0x010203, 0);
    seal_response(response);
    EXPECT_EQ(std::vector<unsigned char>(response.begin(), response.begin() + 4),
              (std::vector<unsigned char>{0x03, 0x02, 0x01, 0x00}))
        << "the header announces the length lowest byte first";
    EXPECT_EQ(announced_length(response.data()), 0x010203u);
}

TEST(data_protocol, service_port_is_a_decimal_number_from_1_to_65535) {
    for (const auto& [text, port] : {std::pair<const char*, std::uint16_t>{"12600", 12600},
                                     {"1", 1},
                                     {"65535", 65535},
                                     {"012600", 12600}})
        EXPECT_EQ(parse_service_port(text), port) << text;
    for (const std::string& text :
         std::initializer_list<std::string>{"", "0", "65536", "78136", "9999999999999999999", "-1",
                                            "+80", "12600 ", "12x", std::string("12\0 0", 5)})
        EXPECT_EQ(parse_service_port(text), std::nullopt) << visible_text(text);
}

// At the look the reader gives that many requests (2048 bytes are 2 long ones, 1040 are 65 short
// ones) and says whether the bytes left are a bad request. Settle 200 ms, give-up 5 s.
TEST(request_reader, cuts_whole_requests_at_once_after_a_pause_or_fails_them) {
    // Parts (size, millisecond), then whether the stream ended, the look, requests, failed.
    const std::tuple<std::vector<std::pair<std::size_t, int>>, bool, int, std::size_t, bool>
        cases[] = {
            {{{16, 0}}, false, 0, 1, false},
            {{{8, 0}, {8, 50}}, false, 50, 1, false},
            {{{1000, 0}, {24, 300}}, false, 300, 1, false},
            {{{32, 0}}, false, 199, 0, false},
            {{{32, 0}}, false, 200, 2, false},
            {{{2048, 0}}, false, 200, 2, false},
            {{{1040, 0}}, false, 200, 65, false},
            {{{17, 0}}, false, 4999, 0, false},
            {{{17, 0}}, false, 5000, 0, true},
            {{{17, 0}, {15, 4900}}, false, 5000, 0, false},
            {{{17, 0}, {15, 4900}}, false, 5100, 2, false},
            {{{48, 0}}, true, 0, 3, false},
            {{{15, 0}}, true, 0, 0, true},
            {{{20000, 0}}, false, 200, 16, false},
        };
    const auto at = [](int ms) { return request_reader::clock::time_point(ms * 1ms); };
    const std::vector<unsigned char> bytes(20000, 1);
    for (const auto& [parts, finished, look, requests, failed] : cases) {
        request_reader reader;
        for (const auto& [size, ms] : parts)
            reader.add(bytes.data(), size, at(ms));
        if (finished)
            reader.finish();
        std::size_t taken = 0;
        while (reader.next(at(look)))
            ++taken;
        EXPECT_EQ(std::make_pair(taken, reader.failed(at(look))), std::make_pair(requests, failed))
            << testing::PrintToString(parts) << " looked at " << look;
    }
    request_reader reader;
    reader.add(bytes.data(), 17, at(0));
    EXPECT_EQ(reader.deadline(), at(5000)) << "no whole requests: the give-up time";
    reader.add(bytes.data(), 15, at(100));
    EXPECT_EQ(reader.deadline(), at(300)) << "whole requests: the settle time";
    reader.next(at(300));
    EXPECT_EQ(reader.room(), 0u) << "nothing is taken while requests cut earlier are left";
}

// Decoded by another PNG reader, a colour file holds exactly the pixels it was given: BGR in
// memory is RGB in the file. Grey images, and files after a header, are the service's test's.
TEST(png_encoder, files_decode_to_exactly_the_pixels_given) {
    cv::Mat colour(37, 53, CV_8UC3);
    cv::randu(colour, 0, 256);
    std::vector<unsigned char> png;
    append_png(colour, png);
    EXPECT_TRUE(same_image(cv::imdecode(png, cv::IMREAD_UNCHANGED), colour));
    EXPECT_THROW(append_png(cv::Mat(4, 4, CV_16UC1), png), std::invalid_argument);
    EXPECT_THROW(append_png(cv::Mat(4, 4, CV_8UC4), png), std::invalid_argument);
    EXPECT_THROW(append_png_grey_as_rgb(colour, png), std::invalid_argument);
}
