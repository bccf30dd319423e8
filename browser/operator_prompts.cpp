#include "browser/operator_prompts.h"

#include <wx/filedlg.h>
#include <wx/msgdlg.h>
#include <wx/progdlg.h>
#include <wx/textdlg.h>

namespace {
// The toolkit's progress dialog, which tells of a cancel only when it is next updated; the
// operator's click is passed on at once instead, so a running job can stop without waiting.
class progress_dialog_view : public progress_view {
public:
    progress_dialog_view(wxWindow* parent, const wxString& title, const wxString& text, int maximum,
                         std::function<void()> cancel)
        : dialog_(title, text, maximum, parent,
                  wxPD_APP_MODAL | wxPD_CAN_ABORT | wxPD_AUTO_HIDE | wxPD_ELAPSED_TIME |
                      wxPD_REMAINING_TIME),
          cancel_(std::move(cancel)) {
        dialog_.Bind(wxEVT_BUTTON, &progress_dialog_view::on_cancel<wxCommandEvent>, this,
                     wxID_CANCEL);
        dialog_.Bind(wxEVT_CLOSE_WINDOW, &progress_dialog_view::on_cancel<wxCloseEvent>, this);
    }
    void update(int done, const wxString& text) override {
        if (!dialog_.Update(done, text))
            cancel_();
    }

private:
    template <typename Event> void on_cancel(Event& event) {
        cancel_();
        event.Skip(); // the dialog shows that it is cancelling
    }

    wxProgressDialog dialog_;
    std::function<void()> cancel_;
};
// The toolkit's own dialogs, centred on the parent.
class toolkit_dialogs : public operator_prompts {
public:
    explicit toolkit_dialogs(wxWindow* parent) : parent_(parent) {}

    bool confirm(const wxString& text, const wxString& caption) override {
        return wxMessageBox(text, caption, wxYES_NO | wxICON_EXCLAMATION, nullptr) == wxYES;
    }
    std::optional<wxString> ask_text(const wxString& message, const wxString& caption,
                                     const wxString& initial) override {
        wxTextEntryDialog dialog(parent_, message, caption, initial, wxOK | wxCANCEL | wxCENTRE);
        if (dialog.ShowModal() != wxID_OK)
            return std::nullopt;
        return dialog.GetValue();
    }
    bool run_modal(wxDialog& dialog) override { return dialog.ShowModal() == wxID_OK; }
    std::optional<wxString> ask_save_path(wxWindow* parent, const wxString& message,
                                          const wxString& name, const wxString& wildcard) override {
        wxFileDialog dialog(parent, message, wxEmptyString, name, wildcard,
                            wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
        if (dialog.ShowModal() != wxID_OK)
            return std::nullopt;
        return dialog.GetPath();
    }
    std::unique_ptr<progress_view> show_progress(wxWindow* parent, const wxString& title,
                                                 const wxString& text, int maximum,
                                                 std::function<void()> cancel) override {
        return std::make_unique<progress_dialog_view>(parent, title, text, maximum,
                                                      std::move(cancel));
    }

private:
    wxWindow* parent_;
};
} // namespace

std::unique_ptr<operator_prompts> dialog_prompts(wxWindow* parent) {
    return std::make_unique<toolkit_dialogs>(parent);
}
