#pragma once

#include <memory>
#include <vector>

#include <wx/fileconf.h>
#include <wx/filename.h>

// The one per-user settings file: ~/Velmora3/config/.tresvik, UTF-8, all keys in the root group.
wxFileName settings_file_name();

// The store and what the operator must be told about the file once the log pane exists.
struct opened_settings {
    std::unique_ptr<wxFileConfig> store;
    std::vector<wxString> problems; // error rows, each naming the file
};

// Creates the settings folder when missing (an error row when it cannot be made; the row goes to
// the process's own stream, the log pane not existing yet) and opens the store on the file. A
// missing file is no error; nothing is written until a key is stored.
//
// The user's file is never lost to a store that could not read it. Text that is not UTF-8 (a
// file saved in Windows-1251 on the older cars, or one that is no text at all) is read as
// Windows-1251, the original is copied beside it before anything can be written, and later saves
// are UTF-8. A file that cannot be read at all (a folder in its place, no permission), or whose
// copy cannot be made, gives a store that is never saved. Each case is one of the problems.
opened_settings open_settings();
