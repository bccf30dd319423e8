#include "browser/database_cells.h"

#include <tuple>

#include <gtest/gtest.h>

// The cells of columns -1 to 8, joined with '|': no column before the first or after the size
// (the archive's column has its own text).
TEST(database_cells, each_column_shows_its_field) {
    session_info info{L"A7 : 12", L"-1", L"правый", L"2021-03-04 12:05:33", L"2021-03-04 12:06:40",
                      0,          0,     L""};
    const wxString fields = L"|A7 : 12|-1|правый|2021-03-04 12:05:33|2021-03-04 12:06:40|";
    const struct {
        std::uint32_t dpp_start, dpp_end;
        std::uint64_t size;
        const char* rest;
    } cases[] = {{100, 4294967294u, 1536, "100|4294967294|1.5 KB|"},
                 {0, 4294967295u, 0, "0|-|Not available|"},
                 {4294967295u, 7, 3u << 20, "-|7|3.0 MB|"}};
    for (const auto& c : cases) {
        std::tie(info.dpp_start, info.dpp_end, info.size) =
            std::tie(c.dpp_start, c.dpp_end, c.size);
        wxString row = database_cell_text(info, -1);
        for (long column = 0; column < 9; ++column)
            row += "|" + database_cell_text(info, column);
        EXPECT_EQ(row, fields + c.rest);
    }
}

// The column "Архив": a dash with the archive off whatever was reported; waiting until the
// archiver reports the session.
TEST(database_cells, the_archive_column_shows_the_last_report) {
    const struct {
        bool on;
        std::optional<archive_mark> mark;
        const wchar_t* shown;
    } cases[] = {{false, archive_mark{archive_state::archived, 0}, L"—"},
                 {true, std::nullopt, L"ожидает"},
                 {true, archive_mark{archive_state::waiting, 0}, L"ожидает"},
                 {true, archive_mark{archive_state::copying, 42}, L"42 %"},
                 {true, archive_mark{archive_state::archived, 100}, L"в архиве"},
                 {true, archive_mark{archive_state::failed, 0}, L"ошибка"}};
    for (const auto& c : cases)
        EXPECT_EQ(archive_cell_text(c.on, c.mark), c.shown);
    EXPECT_EQ(database_column_heading(archive_column), L"Архив");
}
