#include "app/tresvik_options.h"

#include <gtest/gtest.h>
#include <wx/fileconf.h>
#include <wx/sstream.h>

// A side in capitals matches no choice: shown and written empty, but only on "Ok". A stored
// archive value the settings refuse shows their default; one typed in is refused as they refuse
// it. The grid takes what the dialog grows by. What "Ok" writes on a first start is the main
// window's test's.
TEST(tresvik_options, cancel_and_the_close_box_write_nothing) {
    wxStringInputStream text(L"side=ЛЕВЫЙ\nmin_free_space=lots\n");
    wxFileConfig stored(text);
    tresvik_options dialog(nullptr, &stored);
    const auto shown = [&](const char* key) {
        return dialog.grid()->GetPropertyByName(key)->GetDisplayedString();
    };
    EXPECT_EQ(shown("side") + "|" + shown("rotate180") + "|" + shown("show_scale") + "|" +
                  shown("min_free_space") + "|" + shown("loop_recording"),
              L"|Нет|Да|10%|Нет");
    const struct {
        const char* key;
        const char* text;
        bool taken;
    } edits[] = {
        {"archive_car", "car/07", false},        {"archive_car", "car-07", true},
        {"archive_bwlimit", "fast", false},      {"archive_bwlimit", "08:00,512k 18:00,off", true},
        {"min_free_space", "10 percent", false}, {"min_free_space", "20G", true}};
    for (const auto& edit : edits) {
        wxVariant value{wxString(edit.text)};
        wxPGValidationInfo why;
        EXPECT_EQ(dialog.grid()->GetPropertyByName(edit.key)->ValidateValue(value, why), edit.taken)
            << edit.key << " " << edit.text << " " << why.GetFailureMessage();
    }
    wxCommandEvent cancel(wxEVT_BUTTON, wxID_CANCEL);
    dialog.GetEventHandler()->ProcessEvent(cancel);
    dialog.Close();
    EXPECT_EQ(stored.GetNumberOfEntries(), 2u);
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
