#include "browser/database_list.h"

#include <algorithm>
#include <filesystem>

#include "base/constants.h"

namespace {
std::string folder_name(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}
} // namespace

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

void database_list::set_archive_on(bool on) {
    archive_on_ = on;
    marks_.clear();
    Refresh();
}

void database_list::mark_archive(const std::string& session, const archive_mark& mark) {
    marks_[session] = mark;
    Refresh();
}

void database_list::remove_session(const std::string& session) {
    marks_.erase(session);
    const auto gone = std::remove_if(entries_.begin(), entries_.end(), [&](const auto& entry) {
        return folder_name(entry.path) == session;
    });
    entries_.erase(gone, entries_.end());
    SetItemCount(static_cast<long>(entries_.size()));
    Refresh();
}

wxString database_list::OnGetItemText(long item, long column) const {
    if (item < 0 || static_cast<std::size_t>(item) >= entries_.size())
        return wxString();
    const session_index_entry& entry = entries_[static_cast<std::size_t>(item)];
    if (column != archive_column)
        return database_cell_text(entry.info, column);
    const auto mark = marks_.find(folder_name(entry.path));
    return archive_cell_text(archive_on_, mark == marks_.end()
                                              ? std::nullopt
                                              : std::optional<archive_mark>(mark->second));
}
