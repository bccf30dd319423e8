#include <clocale>
#include <gtest/gtest.h>

#include "log/log_format.h"
#include "log/repeat_limiter.h"
#include "log/thread_events.h"

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

TEST(log_format, a_message_is_text_not_markup) {
    const std::wstring row = format_log_row(log_level::info, sample_time(), L"<b>A7</b> & co");
    EXPECT_NE(row.find(L"'blue'>&lt;b&gt;A7&lt;/b&gt; &amp; co</font>"), std::wstring::npos);
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

TEST(log_format, narrow_text_invalid_in_the_locale_is_widened_byte_by_byte) {
    ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    EXPECT_EQ(from_locale_text("Борт"), wxString::FromUTF8("Борт"));
    EXPECT_EQ(from_locale_text("open: \xC2\xFF\xFE.bin"),
              wxString(L"open: \u00C2\u00FF\u00FE.bin"));
    EXPECT_EQ(from_locale_text(""), wxString());
}

TEST(log_format, locale_text_is_utf8_in_a_utf8_locale_and_marks_what_cannot_be_shown) {
    ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    EXPECT_EQ(to_locale_text(L"Борт: левый"), "Борт: левый");
    std::setlocale(LC_CTYPE, "C");
    EXPECT_EQ(to_locale_text(L"Борт 1"), "???? 1");
    std::setlocale(LC_CTYPE, "C.UTF-8");
}

TEST(repeat_limiter, the_same_text_passes_once_a_minute_and_other_texts_apart) {
    using namespace std::chrono_literals;
    repeat_limiter limiter;
    const repeat_limiter::clock::time_point t0{};
    const struct {
        const char* text;
        std::chrono::seconds at;
        bool admitted;
    } steps[] = {
        {"End of file", 0s, true},   {"End of file", 1s, false},   {"Connect Ok", 1s, true},
        {"End of file", 59s, false}, {"Connect Ok", 30s, false},   {"End of file", 60s, true},
        {"Connect Ok", 61s, true},   {"End of file", 119s, false},
    };
    for (const auto& step : steps)
        EXPECT_EQ(limiter.admit(step.text, t0 + step.at), step.admitted)
            << step.text << " at " << step.at.count() << " s";
}
