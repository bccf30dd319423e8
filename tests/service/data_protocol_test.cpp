#include "service/data_protocol.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "service/png_encoder.h"
#include "tests/recording/raw_session.h"

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

TEST(data_protocol, service_port_is_the_low_16_bits_of_an_unsigned_decimal) {
    for (const auto& [text, port] :
         {std::pair<const char*, std::uint16_t>{"12600", 12600}, {"78136", 12600}, {"0", 0}})
        EXPECT_EQ(parse_service_port(text), port) << text;
    for (const char* text : {"", "-1", "+80", "12600 ", "99999999999999999999"})
        EXPECT_EQ(parse_service_port(text), std::nullopt) << '"' << text << '"';
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
