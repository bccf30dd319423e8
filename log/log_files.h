#pragma once

#include <ctime>

#include <wx/string.h>

// Deletes the log files directly in the folder that are older than seven days at the given time.
void remove_expired_logs(const wxString& folder, std::time_t now);
