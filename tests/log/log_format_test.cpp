#include <clocale>
#include <gtest/gtest.h>

#include "log/log_format.h"

namespace {
std::tm sample_time() {
    std::tm t{};
    t.tm_mday = 5;
    t.tm_mon = 11;
    t.tm_year = 2026 - 1900;
    t.tm_hour = 4;
    t.tm_min = 3;
    t.tm_sec = 7;
    return t;
}
} // namespace

TEST(log_format, time_is_zero_padded_day_month_year_and_24_hour_clock) {
    EXPECT_EQ(format_log_time(sample_time()), L"05.12.2026 04:03:07");
    std::tm late = sample_time();
    late.tm_hour = 23;
    EXPECT_EQ(format_log_time(late), L"05.12.2026 23:03:07");
}

TEST(log_format, error_and_information_rows_differ_only_in_colour) {
    EXPECT_EQ(format_log_row(log_level::info, sample_time(), L"Начало работы"),
              L"<tr>\n<td>05.12.2026 04:03:07</td>\n"
              L"<td> <font color='blue'>Начало работы</font></td>\n</tr>\n");
    EXPECT_EQ(format_log_row(log_level::error, sample_time(), L"x"),
              L"<tr>\n<td>05.12.2026 04:03:07</td>\n"
              L"<td> <font color='red'>x</font></td>\n</tr>\n");
}

TEST(log_format, markup_in_a_message_is_kept_unescaped) {
    const std::wstring row = format_log_row(log_level::info, sample_time(), L"<b>bold</b> & co");
    EXPECT_NE(row.find(L"'blue'><b>bold</b> & co</font>"), std::wstring::npos);
}

TEST(log_format, file_name_joins_seconds_and_process_id) {
    EXPECT_EQ(log_file_name(1764912000, 4312), "tresvik[17649120004312].html");
    EXPECT_EQ(log_file_name(1764912000, 4313), "tresvik[17649120004313].html");
    EXPECT_EQ(log_file_name((std::int64_t{1} << 32) + 5, 1), "tresvik[51].html");
}

TEST(log_format, file_name_pattern_has_literal_brackets) {
    const struct {
        const char* name;
        bool matches;
    } cases[] = {
        {"tresvik[17649120004312].html", true},
        {"tresvik[].html", true},
        {"tresvik[a b].html", true},
        {"tresvik17649120004312.html", false},
        {"Tresvik[1].html", false},
        {"tresvik[1].htm", false},
        {"tresvik[1].html.bak", false},
        {"old-tresvik[1].html", false},
        {"tresvik[1.html", false},
        {"tresvik1].html", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(is_log_file_name(c.name), c.matches) << c.name;
}

TEST(log_format, seven_days_exactly_is_kept_one_second_more_expires) {
    const std::int64_t now = 1764912000;
    EXPECT_FALSE(is_expired_log(now, now - 604800));
    EXPECT_TRUE(is_expired_log(now, now - 604801));
    EXPECT_FALSE(is_expired_log(now, now));
    EXPECT_FALSE(is_expired_log(now, now + 3600));
}

TEST(log_format, locale_text_is_utf8_in_a_utf8_locale_and_marks_what_cannot_be_shown) {
    ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    EXPECT_EQ(to_locale_text(L"Борт: левый"), "Борт: левый");
    std::setlocale(LC_CTYPE, "C");
    EXPECT_EQ(to_locale_text(L"Борт 1"), "???? 1");
    std::setlocale(LC_CTYPE, "C.UTF-8");
}
