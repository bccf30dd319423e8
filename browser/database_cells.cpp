#include "browser/database_cells.h"

#include <wx/filename.h>

namespace {
wxString dpp_text(std::uint32_t dpp) {
    return dpp == missing_dpp ? wxString("-") : wxString::Format("%u", dpp);
}
} // namespace

wxString database_column_heading(int column) {
    static const wchar_t* const headings[database_column_count] = {
        L"Код сеанса", L"Ориентация",    L"Борт",   L"Время начала", L"Время окончания",
        L"ДПП начала", L"ДПП окончания", L"Размер", L"Архив"};
    return column >= 0 && column < database_column_count ? headings[column] : L"";
}

wxString database_cell_text(const session_info& info, long column) {
    switch (column) {
    case 0:
        return info.session_code;
    case 1:
        return info.orientation;
    case 2:
        return info.side;
    case 3:
        return info.start_time;
    case 4:
        return info.end_time;
    case 5:
        return dpp_text(info.dpp_start);
    case 6:
        return dpp_text(info.dpp_end);
    case 7:
        return wxFileName::GetHumanReadableSize(wxULongLong(info.size));
    default:
        return wxString();
    }
}

wxString archive_cell_text(bool archive_on, const std::optional<archive_mark>& mark) {
    if (!archive_on)
        return L"—";
    switch (mark ? mark->state : archive_state::waiting) {
    case archive_state::copying:
        return wxString::Format("%d %%", mark->percent);
    case archive_state::archived:
        return L"в архиве";
    case archive_state::failed:
        return L"ошибка";
    default:
        return L"ожидает";
    }
}
