#pragma once

#include <memory>

#include <wx/fileconf.h>
#include <wx/filename.h>

// The one per-user settings file: ~/Velmora3/config/.tresvik, UTF-8, all keys in the root group.
wxFileName settings_file_name();

// Creates the settings folder when missing (an error row when it cannot be made; the row goes to
// the process's own stream, the log pane not existing yet) and opens the store on the file. A
// missing file is no error; nothing is written until a key is stored.
std::unique_ptr<wxFileConfig> open_settings();
