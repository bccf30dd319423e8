#pragma once

#include <functional>
#include <string>
#include <vector>

#include <wx/config.h>
#include <wx/string.h>

#include "browser/operator_prompts.h"

class database_list;

// The commands of the menu "Обработка" on the database list's first selected row: view the
// session, delete its folder, assign the configured side, change the session code; all but the
// viewer refresh the list afterwards, and each does nothing when no row is selected. GUI thread
// only.
//
// A folder the engine cannot open (held by another program) is not caught: the error reaches the
// application's box, after the list has been refreshed where a command changes a session, so list
// and program stay usable.
class database_commands {
public:
    using error_row = std::function<void(const wxString& text)>;

    database_commands(database_list& list, const wxConfigBase& settings, operator_prompts& prompts,
                      error_row report);

    void refresh();
    // The viewer, modal, with the ruler from the settings "scale" and "show_scale".
    void view_selected();
    void delete_selected();
    void assign_side();
    void change_session_code();

private:
    template <typename Edit> void edit_selected(Edit edit);
    // The setting "scale", or its default with an error row when the stored value is unusable.
    double ruler_scale() const;

    database_list& list_;
    const wxConfigBase& settings_;
    operator_prompts& prompts_;
    error_row report_;
};

// Removes a session folder with everything in it. A symbolic link is removed, never followed,
// so nothing outside the folder goes. Returns what could not be removed (empty on success).
std::vector<std::string> remove_session_folder(const std::string& path);

// True when the folder holds a session database (the engine's CURRENT file).
bool holds_session_database(const std::string& path);
