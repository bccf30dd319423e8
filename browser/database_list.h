#pragma once

#include <map>
#include <string>

#include <wx/listctrl.h>

#include "browser/database_cells.h"
#include "recording/session_store.h"

// The pane "Данные": one row per session database of the store's index, in its order (the
// commands refresh it), with the archive's mark of each. A virtual list: it keeps its own copy of
// the index and formats a cell only when the control asks, so any number of sessions costs the
// same to show. GUI thread only.
class database_list : public wxListCtrl {
public:
    explicit database_list(wxWindow* parent);

    // Shows these entries in place of the rows shown now.
    void show(session_index_entries entries);

    // The folder of the first selected row; empty when none is selected.
    std::string selected_path() const;
    std::size_t entry_count() const { return entries_.size(); }

    // The archive turned on or off: every mark is forgotten until the archiver reports again.
    void set_archive_on(bool on);
    // The session folder's mark, by folder name; kept for folders not listed yet.
    void mark_archive(const std::string& session, const archive_mark& mark);
    // The session folder is gone (retention deleted it): its row and mark go.
    void remove_session(const std::string& session);

protected:
    wxString OnGetItemText(long item, long column) const override;

private:
    session_index_entries entries_;
    bool archive_on_ = false;
    std::map<std::string, archive_mark> marks_;
};
