#include "settings/settings_store.h"

#include <wx/log.h>

#include "log/log_viewer.h"

wxFileName settings_file_name() {
    wxFileName file = wxFileName::DirName(wxFileName::GetHomeDir());
    file.AppendDir("Velmora3");
    file.AppendDir("config");
    file.SetFullName(".tresvik");
    return file;
}

std::unique_ptr<wxFileConfig> open_settings() {
    const wxFileName file = settings_file_name();
    wxLogNull quiet; // the failure is reported as a row, not by the toolkit's log window
    if (!file.DirExists() && !file.Mkdir(0777, wxPATH_MKDIR_FULL))
        log_error(wxString::Format(L"Не удается создать папку с файлами настройки [%s]",
                                   file.GetPath(wxPATH_GET_VOLUME)));
    return std::make_unique<wxFileConfig>(wxEmptyString, wxEmptyString, file.GetFullPath(),
                                          wxEmptyString, wxCONFIG_USE_LOCAL_FILE, wxConvUTF8);
}
