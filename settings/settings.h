#pragma once

#include <optional>

#include <wx/config.h>
#include <wx/string.h>

#include "settings/setting_values.h"

// Readers of the settings keys, each with its reader's default (wxBase only). There is no copy in
// memory besides the store itself: each reader asks for its key when it needs it and supplies its
// own default through the readers below. The store is not thread-safe; it is touched on the GUI
// thread only (workers read their keys in constructors run there).

wxString read_side(const wxConfigBase& config);
wxString read_side_for_startup_row(const wxConfigBase& config);
wxString read_driver(const wxConfigBase& config);
bool read_rotate180(const wxConfigBase& config);
bool read_show_scale(const wxConfigBase& config);
// Ruler frame pixels per millimetre, default 0.8. No camera of the recorder resolves a thousandth
// of a millimetre, so a larger value is a slip. A stored text that is no number above 0 and up to
// the largest gives the default, and is handed to *rejected when that is given.
inline constexpr double max_ruler_scale = 1000;
double read_scale(const wxConfigBase& config, std::optional<wxString>* rejected = nullptr);
wxString read_write_path(const wxConfigBase& config);
// True when the key is present; only then does start-up scan the database root.
bool read_stored_write_path(const wxConfigBase& config, wxString* path);
wxString read_dpp_port(const wxConfigBase& config);
wxString read_coordinate_server_address(const wxConfigBase& config);
wxString read_coordinate_server_port(const wxConfigBase& config);
wxString read_data_service_port(const wxConfigBase& config);
wxString read_exposure_mode(const wxConfigBase& config);

// A key read with a check: the value to use and, when the stored text was refused and the default
// is used instead, the row that names the key and the text (empty otherwise).
template <typename T> struct checked_setting {
    T value;
    wxString problem;
};

// The archive: an rclone remote and path ("depot:fleet"; empty: no archive), the car's folder in
// it (default: the host name; one folder name), rclone's configuration file (default
// ~/Velmora3/config/rclone.conf; a leading "~/" is the home folder) and its --bwlimit (default:
// none). Retention: the free space kept on write_path's volume (default "10%") and whether the
// oldest unarchived session gives way when nothing archived is left (default false).
wxString read_archive_remote(const wxConfigBase& config);
checked_setting<wxString> read_archive_car(const wxConfigBase& config);
wxString read_archive_rclone_config(const wxConfigBase& config);
checked_setting<wxString> read_archive_bwlimit(const wxConfigBase& config);
checked_setting<free_space_goal> read_min_free_space(const wxConfigBase& config);
// The same as the options dialog shows it: the stored text, or the default's when it is refused.
wxString read_min_free_space_text(const wxConfigBase& config);
checked_setting<bool> read_loop_recording(const wxConfigBase& config);

// Not flushed: reaches the file at the next flush or when the store is destroyed.
void write_exposure_mode(wxConfigBase& config, const wxString& mode);
