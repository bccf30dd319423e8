#include <climits>
#include <clocale>
#include <fstream>
#include <limits>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <utime.h>

#include <gmock/gmock.h>

#include "base/encoding.h"
#include "log/log_files.h"
#include "log/log_format.h"
#include "log/log_viewer.h"
#include "log/repeat_limiter.h"
#include "log/thread_events.h"
#include "tests/support/temp_home.h"

// A message is text, not markup: a session code or camera name holding '<' or '&' shows as it is.
TEST(log_format, a_row_is_the_time_and_the_message_as_text_in_the_level_colour) {
    std::tm time{};
    strptime("2026-12-05 23:03:07", "%Y-%m-%d %H:%M:%S", &time);
    EXPECT_EQ(format_log_row(log_level::error, time, L"<b>A7</b> & co"),
              L"<tr>\n<td>05.12.2026 23:03:07</td>\n"
              L"<td> <font color='red'>&lt;b&gt;A7&lt;/b&gt; &amp; co</font></td>\n</tr>\n");
    time.tm_hour = 4;
    EXPECT_EQ(format_log_row(log_level::info, time, L"").find(L"<td>05.12.2026 04:03:07</td>"), 5u);
}

// Extreme times neither overflow nor cut the text: the age is compared without a difference that
// leaves 64 bits, and fields out of range are written as the numbers they are.
TEST(log_format, extreme_times_are_compared_and_written_whole) {
    using limits = std::numeric_limits<std::int64_t>;
    EXPECT_TRUE(is_expired_log(limits::max(), limits::min()));
    EXPECT_FALSE(is_expired_log(limits::min(), limits::max()));
    std::tm far{};
    std::tie(far.tm_mday, far.tm_mon, far.tm_year) = std::tuple(INT_MIN, INT_MAX, INT_MAX);
    std::tie(far.tm_hour, far.tm_min, far.tm_sec) = std::tuple(INT_MIN, -1, 99);
    EXPECT_EQ(format_log_time(far), L"-2147483648.2147483648.2147485547 -2147483648:-1:99");
}

// What the locale cannot represent is written as '?'. A byte that is not valid in the locale shows
// as the Latin-1 character of its value, the valid text around it as it is.
TEST(log_format, locale_text_both_ways) {
    ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    EXPECT_EQ(readable_text("\xd0\x91орт \xff"), L"Борт \u00ff");
    std::setlocale(LC_CTYPE, "C");
    EXPECT_EQ(narrow_text(L"Борт 1"), "???? 1");
    std::setlocale(LC_CTYPE, "C.UTF-8");
}

// Files named "tresvik[*].html" (literal brackets) go once older than seven days; exactly seven
// days, other names and folders stay. The new file is named after the process (the main window's
// tests find it in the home log folder), or the folder it cannot make is reported.
TEST(log_files, old_logs_go_and_the_new_one_is_named_after_the_process) {
    EXPECT_EQ(log_file_name(1764912000, 4312), "tresvik[17649120004312].html");
    EXPECT_EQ(log_file_name((std::int64_t{1} << 32) + 5, 1), "tresvik[51].html");
    temp_dir folder;
    const std::time_t now = 1764912000;
    const struct {
        const char* name;
        std::time_t age;
        bool removed;
    } files[] = {
        {"tresvik[1].html", 604800, false},      {"tresvik[2].html", 604801, true},
        {"tresvik[].html", 604801, true},        {"tresvik[a b].html", 9999999, true},
        {"tresvik[3].html", -3600, false},       {"tresvik17649120004312.html", 9999999, false},
        {"Tresvik[1].html", 9999999, false},     {"tresvik[1].htm", 9999999, false},
        {"tresvik[1].html.bak", 9999999, false}, {"old-tresvik[1].html", 9999999, false},
        {"tresvik[1.html", 9999999, false},      {"tresvik1].html", 9999999, false},
        {".tresvik[4].html", 9999999, false},
    };
    for (const auto& file : files) {
        const std::string path = folder.path() + "/" + file.name;
        std::ofstream(path) << "x";
        const utimbuf times{now - file.age, now - file.age};
        ASSERT_EQ(utime(path.c_str(), &times), 0);
    }
    ASSERT_EQ(mkdir((folder.path() + "/tresvik[5].html").c_str(), 0777), 0);
    remove_expired_logs(folder.path(), now);
    for (const auto& file : files)
        EXPECT_EQ(access((folder.path() + "/" + file.name).c_str(), F_OK) != 0, file.removed)
            << file.name;
    EXPECT_EQ(access((folder.path() + "/tresvik[5].html").c_str(), F_OK), 0);
    temp_home home;
    EXPECT_TRUE(prepare_log_file().GetFullName().EndsWith(wxString::Format("%d].html", getpid())));
    temp_home other;
    std::ofstream(other.path() + "/Velmora3") << "a file where the folder should be";
    EXPECT_THAT([] { prepare_log_file(); }, testing::ThrowsMessage<std::runtime_error>(
                                                "Не удается создать папку с файлами журналов [" +
                                                other.path() + "/Velmora3/log]"));
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
