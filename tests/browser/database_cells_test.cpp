#include "browser/database_cells.h"

#include <gtest/gtest.h>

TEST(database_cells, each_column_shows_its_field) {
    session_info info;
    info.session_code = L"A7 : 12";
    info.orientation = L"-1";
    info.side = L"правый";
    info.start_time = L"2021-03-04 12:05:33";
    info.end_time = L"2021-03-04 12:06:40";
    const struct {
        std::uint32_t dpp_start, dpp_end;
        std::uint64_t size;
        const wchar_t* texts[9];
    } cases[] = {
        {100,
         4294967294u,
         1536,
         {L"A7 : 12", L"-1", L"правый", L"2021-03-04 12:05:33", L"2021-03-04 12:06:40", L"100",
          L"4294967294", L"1.5 KB", L""}},
        {0,
         4294967295u,
         0,
         {L"A7 : 12", L"-1", L"правый", L"2021-03-04 12:05:33", L"2021-03-04 12:06:40", L"0", L"-",
          L"Not available", L""}},
        {4294967295u,
         7,
         3u << 20,
         {L"A7 : 12", L"-1", L"правый", L"2021-03-04 12:05:33", L"2021-03-04 12:06:40", L"-", L"7",
          L"3.0 MB", L""}},
    };
    for (const auto& c : cases) {
        info.dpp_start = c.dpp_start;
        info.dpp_end = c.dpp_end;
        info.size = c.size;
        for (long column = 0; column < 9; ++column)
            EXPECT_EQ(database_cell_text(info, column), c.texts[column]) << column;
    }
    EXPECT_EQ(database_cell_text(info, -1), "");
}
