#pragma once

#include <string>

#include <wx/listctrl.h>

#include "recording/session_store.h"

// The pane "Данные": one row per session database of the store's index, in its order (the
// commands refresh it). A virtual list: it keeps its own copy of the index and formats a cell only
// when the control asks, so any number of sessions costs the same to show. GUI thread only.
class database_list : public wxListCtrl {
public:
    explicit database_list(wxWindow* parent);

    // Shows these entries in place of the rows shown now.
    void show(session_index_entries entries);

    // The folder of the first selected row; empty when none is selected.
    std::string selected_path() const;
    std::size_t entry_count() const { return entries_.size(); }

protected:
    wxString OnGetItemText(long item, long column) const override;

private:
    session_index_entries entries_;
};
