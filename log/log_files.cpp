#include <ctime>
#include <stdexcept>
#include <unistd.h>

#include <wx/dir.h>
#include <wx/filename.h>
#include <wx/log.h>

#include "base/constants.h"
#include "base/encoding.h"
#include "log/log_files.h"
#include "log/log_format.h"
#include "log/log_viewer.h"

namespace {
wxFileName log_folder() {
    wxFileName folder = wxFileName::DirName(wxFileName::GetHomeDir());
    folder.AppendDir(user_folder_name);
    folder.AppendDir("log");
    return folder;
}
} // namespace

// Old files are passed over silently when their time cannot be read or they cannot be removed:
// a stale log is no reason to stop the recorder from starting.
void remove_expired_logs(const wxString& folder, std::time_t now) {
    wxDir dir(folder);
    if (!dir.IsOpened())
        return;
    wxString name;
    for (bool more = dir.GetFirst(&name, wxEmptyString, wxDIR_FILES); more;
         more = dir.GetNext(&name)) {
        if (!is_log_file_name(name.ToStdString()))
            continue;
        const wxFileName file(folder, name);
        const wxDateTime modified = file.GetModificationTime();
        if (modified.IsValid() && is_expired_log(now, modified.GetTicks()))
            wxRemoveFile(file.GetFullPath());
    }
}

wxFileName prepare_log_file() {
    const wxFileName folder = log_folder();
    const wxString path = folder.GetPath(wxPATH_GET_VOLUME);
    wxLogNull quiet; // failures are reported by the caller, not by the toolkit's log window
    if (!folder.DirExists() && !folder.Mkdir(0777, wxPATH_MKDIR_FULL)) {
        const wxString text =
            wxString::Format(L"Не удается создать папку с файлами журналов [%s]", path);
        throw std::runtime_error(narrow_text(text.ToStdWstring()));
    }
    const std::time_t now = std::time(nullptr);
    remove_expired_logs(path, now);
    return wxFileName(path, log_file_name(now, static_cast<std::uint32_t>(getpid())));
}
