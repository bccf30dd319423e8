#include "app/tresvik_options.h"

#include <gtest/gtest.h>
#include <wx/fileconf.h>
#include <wx/sstream.h>

// A side in capitals matches no choice: shown and written empty, but only on "Ok". The grid
// takes what the dialog grows by. What "Ok" writes on a first start is the main window's test's.
TEST(tresvik_options, cancel_and_the_close_box_write_nothing) {
    wxStringInputStream text(L"side=ЛЕВЫЙ\n");
    wxFileConfig stored(text);
    tresvik_options dialog(nullptr, &stored);
    const auto shown = [&](const char* key) {
        return dialog.grid()->GetPropertyByName(key)->GetDisplayedString();
    };
    EXPECT_EQ(shown("side") + "|" + shown("rotate180") + "|" + shown("show_scale"), L"|Нет|Да");
    wxCommandEvent cancel(wxEVT_BUTTON, wxID_CANCEL);
    dialog.GetEventHandler()->ProcessEvent(cancel);
    dialog.Close();
    EXPECT_EQ(stored.GetNumberOfEntries(), 1u);
    EXPECT_EQ(stored.Read("side"), L"ЛЕВЫЙ");
    dialog.accept();
    EXPECT_EQ(stored.Read("side", "unset"), "");
    dialog.SetSize(600, 400);
    dialog.Layout();
    const wxSize small = dialog.grid()->GetSize();
    dialog.SetSize(900, 700);
    dialog.Layout();
    EXPECT_EQ(dialog.grid()->GetSize(), small + wxSize(300, 300));
}
