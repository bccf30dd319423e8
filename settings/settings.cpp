#include "settings/settings.h"

#include <wx/utils.h>

#include "base/constants.h"

wxString read_side(const wxConfigBase& config) {
    return config.Read("side", L"левый");
}

wxString read_side_for_startup_row(const wxConfigBase& config) {
    return config.Read("side", L"не определен");
}

wxString read_driver(const wxConfigBase& config) {
    return config.Read("driver", "SocketDriver");
}

bool read_rotate180(const wxConfigBase& config) {
    return config.ReadBool("rotate180", false);
}

bool read_show_scale(const wxConfigBase& config) {
    return config.ReadBool("show_scale", true);
}

double read_scale(const wxConfigBase& config, std::optional<wxString>* rejected) {
    constexpr double default_scale = 0.8;
    wxString text;
    if (!config.Read("scale", &text))
        return default_scale;
    double scale = 0;
    if (config.Read("scale", &scale) && scale > 0 && scale <= max_ruler_scale)
        return scale;
    if (rejected)
        *rejected = text;
    return default_scale;
}

wxString read_write_path(const wxConfigBase& config) {
    return config.Read("write_path", wxGetUserHome());
}

bool read_stored_write_path(const wxConfigBase& config, wxString* path) {
    return config.Read("write_path", path, wxGetUserHome());
}

wxString read_dpp_port(const wxConfigBase& config) {
    return config.Read("dpp_port", "COM1");
}

wxString read_coordinate_server_address(const wxConfigBase& config) {
    return config.Read("coordinate_server_address", "127.0.0.1");
}

wxString read_coordinate_server_port(const wxConfigBase& config) {
    return config.Read("coordinate_server_port", wxString() << default_coordinate_server_port);
}

wxString read_data_service_port(const wxConfigBase& config) {
    return config.Read("data_service_port", wxString() << default_data_service_port);
}

wxString read_exposure_mode(const wxConfigBase& config) {
    return config.Read("exposure_mode", "Off");
}

namespace {
// The stored text of the key, when there is one that the check refuses.
template <typename T, typename Check>
checked_setting<T> checked(const wxConfigBase& config, const char* key, T fallback,
                           const wxString& fallback_text, Check check) {
    wxString text;
    if (!config.Read(key, &text))
        return {fallback, {}};
    if (const std::optional<T> value = check(text))
        return {*value, {}};
    return {fallback, wxString::Format(L"Настройка %s: значение \"%s\" не подходит, используется "
                                       L"\"%s\".",
                                       key, text, fallback_text)};
}
} // namespace

wxString read_archive_remote(const wxConfigBase& config) {
    return config.Read("archive_remote", wxString());
}

// The car's name is one folder of the remote path.
checked_setting<wxString> read_archive_car(const wxConfigBase& config) {
    const wxString host = wxGetHostName();
    return checked(config, "archive_car", host, host, [](const wxString& text) {
        return valid_folder_name(text.utf8_string()) ? std::optional<wxString>(text) : std::nullopt;
    });
}

wxString read_archive_rclone_config(const wxConfigBase& config) {
    const wxString home = wxGetUserHome();
    wxString path =
        config.Read("archive_rclone_config", home + "/" + user_folder_name + "/config/rclone.conf");
    if (path.StartsWith("~/"))
        path.replace(0, 1, home);
    return path;
}

checked_setting<wxString> read_archive_bwlimit(const wxConfigBase& config) {
    return checked(config, "archive_bwlimit", wxString(), wxString(), [](const wxString& text) {
        return valid_bandwidth_limit(text.utf8_string()) ? std::optional<wxString>(text)
                                                         : std::nullopt;
    });
}

namespace {
const char* const default_min_free_space = "10%";
} // namespace

checked_setting<free_space_goal> read_min_free_space(const wxConfigBase& config) {
    return checked(config, "min_free_space", *parse_free_space(default_min_free_space),
                   default_min_free_space,
                   [](const wxString& text) { return parse_free_space(text.utf8_string()); });
}

wxString read_min_free_space_text(const wxConfigBase& config) {
    const wxString text = config.Read("min_free_space", default_min_free_space);
    return parse_free_space(text.utf8_string()) ? text : wxString(default_min_free_space);
}

checked_setting<bool> read_loop_recording(const wxConfigBase& config) {
    return checked(config, "loop_recording", false, "false",
                   [](const wxString& text) { return parse_switch(text.utf8_string()); });
}

void write_exposure_mode(wxConfigBase& config, const wxString& mode) {
    config.Write("exposure_mode", mode);
}
