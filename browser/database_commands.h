#pragma once

#include <functional>

#include <wx/config.h>
#include <wx/string.h>

#include "browser/operator_prompts.h"

class database_list;
class session_store;

// The commands of the menu "Обработка" on the database list's first selected row: view the
// session, delete its folder, assign the configured side, change the session code; all but the
// viewer refresh the list afterwards, and each does nothing when no row is selected. GUI thread
// only.
//
// A folder the store refuses (in use, or gone since the refresh) is an error row. A folder the
// engine cannot open (held by another program) is not caught: the error reaches the application's
// box, after the list has been refreshed where a command changes a session, so list and program
// stay usable.
class database_commands {
public:
    using error_row = std::function<void(const wxString& text)>;

    // The list and the store must outlive the commands.
    database_commands(database_list& list, session_store& sessions, const wxConfigBase& settings,
                      operator_prompts& prompts, error_row report);

    // Rescans the root and reloads the rows; a busy cursor shows meanwhile. Folders that are no
    // session database are reported and left out.
    void refresh();
    // The viewer, modal, with the ruler from the settings "scale" and "show_scale".
    void view_selected();
    void delete_selected();
    void assign_side();
    void change_session_code();

private:
    template <typename Act> void on_selected(Act act);
    template <typename Edit> void edit_selected(Edit edit);
    // The setting "scale", or its default with an error row when the stored value is unusable.
    double ruler_scale() const;

    database_list& list_;
    session_store& sessions_;
    const wxConfigBase& settings_;
    operator_prompts& prompts_;
    error_row report_;
};
