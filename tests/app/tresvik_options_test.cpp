#include "app/tresvik_options.h"

#include <gtest/gtest.h>
#include <wx/fileconf.h>
#include <wx/frame.h>
#include <wx/sstream.h>
#include <wx/utils.h>

namespace {
// The settings as the file holds them, one "key=value" line each, sorted.
std::vector<wxString> lines_of(wxFileConfig& settings) {
    wxStringOutputStream text;
    settings.Save(text);
    wxString content = text.GetString();
    wxArrayString lines = wxSplit(content.Trim(), '\n');
    lines.Sort();
    return {lines.begin(), lines.end()};
}

struct options_fixture : testing::Test {
    std::unique_ptr<wxFileConfig> stored;
    std::unique_ptr<tresvik_options> dialog;

    void open(const wxString& file_text = "") {
        wxStringInputStream text(file_text);
        stored = std::make_unique<wxFileConfig>(text);
        dialog = std::make_unique<tresvik_options>(nullptr, stored.get());
    }
    wxString shown(const char* key) const {
        return dialog->grid()->GetPropertyByName(key)->GetDisplayedString();
    }
};
} // namespace

TEST_F(options_fixture, ok_on_an_empty_configuration_writes_the_ten_defaults) {
    open();
    EXPECT_EQ(shown("rotate180") + " " + shown("show_scale"), L"Нет Да");
    dialog->accept();
    EXPECT_EQ(lines_of(*stored),
              (std::vector<wxString>{
                  "coordinate_server_address=127.0.0.1", "coordinate_server_port=12500",
                  "data_service_port=12600", "dpp_port=COM1", "driver=SocketDriver", "rotate180=0",
                  "scale=0.8", "show_scale=1", L"side=левый", "write_path=" + wxGetUserHome()}));
}

// A side in capitals matches no choice: shown and written empty, but only on "Ok". The grid
// takes what the dialog grows by.
TEST_F(options_fixture, cancel_and_the_close_box_write_nothing) {
    open(L"side=ЛЕВЫЙ\n");
    EXPECT_EQ(shown("side"), "");
    wxCommandEvent cancel(wxEVT_BUTTON, wxID_CANCEL);
    dialog->GetEventHandler()->ProcessEvent(cancel);
    dialog->Close();
    EXPECT_EQ(lines_of(*stored), (std::vector<wxString>{L"side=ЛЕВЫЙ"}));
    dialog->accept();
    EXPECT_EQ(stored->Read("side", "unset"), "");
    dialog->SetSize(600, 400);
    dialog->Layout();
    const wxSize small = dialog->grid()->GetSize();
    dialog->SetSize(900, 700);
    dialog->Layout();
    EXPECT_EQ(dialog->grid()->GetSize(), small + wxSize(300, 300));
}
