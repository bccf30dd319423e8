#pragma once

#include <wx/config.h>
#include <wx/dialog.h>
#include <wx/propgrid/propgrid.h>

// "Настройка программы": ten of the eleven settings in a property grid, by category, and the
// archive's six under "Архив". Reads the settings when it is built; "Ok" writes all sixteen back
// (the main window then flushes the store), "Отмена", the close box and Escape write nothing. A
// value the settings would refuse is refused while editing. Modal, made and destroyed by the
// command that shows it; the settings store is not owned.
class tresvik_options : public wxDialog {
public:
    tresvik_options(wxWindow* parent, wxConfigBase* settings);

    // Writes the sixteen keys from the grid, changed or not.
    void accept();
    wxPropertyGrid* grid() const { return grid_; }

private:
    void append_properties();
    void append_archive_properties();
    void on_ok(wxCommandEvent& event);

    wxPropertyGrid* grid_ = nullptr;
    wxConfigBase* settings_;

    wxDECLARE_EVENT_TABLE();
};
