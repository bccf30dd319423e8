#pragma once

#include <string>

#include <wx/listctrl.h>

#include "recording/session_store.h"

// The pane "Данные": one row per session database under the store's root, in the order of its
// index. A virtual list: it keeps its own copy of the index and formats a cell only when the
// control asks, so any number of sessions costs the same to show. GUI thread only.
class database_list : public wxListCtrl {
public:
    // The store must outlive the list.
    database_list(wxWindow* parent, session_store& sessions);

    // Rescans the root and reloads the rows; a busy cursor shows meanwhile. Folders that are no
    // session database are reported and left out.
    void refresh(const session_error_sink& report_error);

    // Shows these entries in place of the rows shown now.
    void show(session_index_entries entries);

    // The folder of the first selected row; empty when none is selected.
    std::string selected_path() const;
    std::size_t entry_count() const { return entries_.size(); }

protected:
    wxString OnGetItemText(long item, long column) const override;

private:
    session_store& sessions_;
    session_index_entries entries_;
};
