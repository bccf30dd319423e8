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

void write_exposure_mode(wxConfigBase& config, const wxString& mode) {
    config.Write("exposure_mode", mode);
}
