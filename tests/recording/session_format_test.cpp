#include "recording/session_format.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

namespace {
const std::vector<std::string_view> metadata_keys = {key_dpp_end,    key_dpp_start, key_orientation,
                                                     key_session,    key_side,      key_time_end,
                                                     key_time_start, key_version};
} // namespace

TEST(session_format, frame_key_is_the_dpp_in_ten_zero_padded_digits) {
    const std::pair<std::uint32_t, const char*> cases[] = {
        {0, "0000000000"}, {7, "0000000007"}, {1500, "0000001500"}, {4294967295u, "4294967295"}};
    for (const auto& [dpp, key] : cases) {
        EXPECT_EQ(frame_key(dpp), key);
        EXPECT_TRUE(is_frame_key(key));
    }
}

TEST(session_format, frame_keys_sort_before_metadata_keys_in_the_fixed_order) {
    EXPECT_TRUE(std::is_sorted(metadata_keys.begin(), metadata_keys.end()));
    for (const std::string& key : {frame_key(0), frame_key(4294967295u)}) {
        EXPECT_LT(key, metadata_keys.front());
        EXPECT_FALSE(is_frame_key(std::string(key) + "0"));
    }
    for (std::string_view key : metadata_keys)
        EXPECT_FALSE(is_frame_key(key)) << key;
}

TEST(session_format, parse_dpp_accepts_the_stored_forms) {
    const std::pair<const char*, std::uint32_t> cases[] = {{"0000001500", 1500},
                                                           {"0", 0},
                                                           {"+7", 7},
                                                           {"-0", 0},
                                                           {"-1", 4294967295u},
                                                           {"4294967295", 4294967295u},
                                                           {"-4294967295", 1},
                                                           {"00000000000042", 42}};
    for (const auto& [text, dpp] : cases)
        EXPECT_EQ(parse_dpp(text), dpp) << text;
}

TEST(session_format, parse_dpp_rejects_what_is_no_unsigned_32_bit_number) {
    for (const char* text : {"", "+", "-", "12a", " 1", "1 ", "4294967296", "-4294967296",
                             "99999999999999999999", "1.5", "+-1", "левый"})
        EXPECT_THROW(parse_dpp(text), std::invalid_argument) << text;
}

TEST(session_format, dpp_argument_takes_plain_digits_only) {
    EXPECT_EQ(parse_dpp_argument("4294967295"), 4294967295u);
    for (const char* text : {"", "+1", "-1", "4294967296", "12x"})
        EXPECT_THROW(parse_dpp_argument(text), std::invalid_argument) << text;
}

TEST(session_format, unix_seconds_round_trip_through_their_text) {
    const std::int64_t cases[] = {0, -1, 1614859533, std::numeric_limits<std::int64_t>::max(),
                                  std::numeric_limits<std::int64_t>::min()};
    for (std::int64_t seconds : cases)
        EXPECT_EQ(parse_unix_seconds(format_unix_seconds(seconds)), seconds);
    EXPECT_EQ(format_unix_seconds(-5), "-5");
    EXPECT_EQ(parse_unix_seconds("+5"), 5);
}

TEST(session_format, parse_unix_seconds_rejects_out_of_range_and_non_numbers) {
    for (const char* text :
         {"", "-", "1e3", "12:00", "9223372036854775808", "-9223372036854775809"})
        EXPECT_THROW(parse_unix_seconds(text), std::invalid_argument) << text;
}

TEST(session_format, local_time_is_iso_date_blank_iso_time) {
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(format_local_time(1614859533), "2021-03-04 12:05:33");
    EXPECT_EQ(format_local_time(0), "1970-01-01 00:00:00");
}

TEST(session_format, text_is_stored_in_the_locale_encoding) {
    EXPECT_EQ(narrow_text(L"левый"), "\xd0\xbb\xd0\xb5\xd0\xb2\xd1\x8b\xd0\xb9");
    EXPECT_EQ(wide_text("\xd0\xbb\xd0\xb5\xd0\xb2\xd1\x8b\xd0\xb9"), L"левый");
    EXPECT_EQ(wide_text("A7 : 12"), L"A7 : 12");
}

TEST(session_format, bytes_foreign_to_the_locale_survive_a_round_trip) {
    const std::string bytes("\xff\xfe ok \xd0\x00z\xd0", 10);
    const std::wstring text = wide_text(bytes);
    EXPECT_EQ(text.size(), 10u);
    EXPECT_EQ(text[0], static_cast<wchar_t>(0xDCFF));
    EXPECT_EQ(narrow_text(text), bytes);
}
