#include "browser/database_list.h"

#include "base/constants.h"
#include "browser/database_cells.h"

database_list::database_list(wxWindow* parent)
    : wxListCtrl(parent, id_database_list, wxDefaultPosition, wxDefaultSize,
                 wxLC_REPORT | wxLC_VIRTUAL) {
    for (int column = 0; column < database_column_count; ++column)
        InsertColumn(column, database_column_heading(column), wxLIST_FORMAT_LEFT, wxLIST_AUTOSIZE);
}

void database_list::show(session_index_entries entries) {
    entries_ = std::move(entries);
    SetItemCount(static_cast<long>(entries_.size()));
    for (int column = 0; column < database_column_count; ++column)
        SetColumnWidth(column, wxLIST_AUTOSIZE_USEHEADER);
    Refresh();
}

std::string database_list::selected_path() const {
    const long row = GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
    if (row < 0 || static_cast<std::size_t>(row) >= entries_.size())
        return {};
    return entries_[static_cast<std::size_t>(row)].path;
}

wxString database_list::OnGetItemText(long item, long column) const {
    if (item < 0 || static_cast<std::size_t>(item) >= entries_.size())
        return wxString();
    return database_cell_text(entries_[static_cast<std::size_t>(item)].info, column);
}
