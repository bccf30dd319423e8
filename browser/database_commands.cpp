#include "browser/database_commands.h"

#include <wx/filedlg.h>
#include <wx/msgdlg.h>
#include <wx/progdlg.h>
#include <wx/textdlg.h>
#include <wx/utils.h>

#include "browser/database_list.h"
#include "browser/viewer_dialog.h"
#include "log/thread_events.h"
#include "recording/session_store.h"
#include "settings/settings.h"

namespace {
// Enough to tell the operator what stayed; the rest of a large folder adds nothing.
constexpr std::size_t listed_leftovers = 5;

wxString path_text(const std::string& path) {
    return from_locale_text(path);
}

wxString leftovers_text(const std::vector<std::string>& left) {
    wxString text;
    for (std::size_t i = 0; i < left.size() && i < listed_leftovers; ++i)
        text += (i ? ", " : "") + path_text(left[i]);
    if (left.size() > listed_leftovers)
        text += wxString::Format(" and %zu more", left.size() - listed_leftovers);
    return text;
}

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
} // namespace

bool dialog_prompts::confirm(const wxString& text, const wxString& caption) {
    return wxMessageBox(text, caption, wxYES_NO | wxICON_EXCLAMATION, nullptr) == wxYES;
}

std::optional<wxString> dialog_prompts::ask_text(const wxString& message, const wxString& caption,
                                                 const wxString& initial) {
    wxTextEntryDialog dialog(parent_, message, caption, initial, wxOK | wxCANCEL | wxCENTRE);
    if (dialog.ShowModal() != wxID_OK)
        return std::nullopt;
    return dialog.GetValue();
}

bool dialog_prompts::run_modal(wxDialog& dialog) {
    return dialog.ShowModal() == wxID_OK;
}

std::optional<wxString> dialog_prompts::ask_save_path(wxWindow* parent, const wxString& message,
                                                      const wxString& name,
                                                      const wxString& wildcard) {
    wxFileDialog dialog(parent, message, wxEmptyString, name, wildcard,
                        wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
    if (dialog.ShowModal() != wxID_OK)
        return std::nullopt;
    return dialog.GetPath();
}

std::unique_ptr<progress_view> dialog_prompts::show_progress(wxWindow* parent,
                                                             const wxString& title,
                                                             const wxString& text, int maximum,
                                                             std::function<void()> cancel) {
    return std::make_unique<progress_dialog_view>(parent, title, text, maximum, std::move(cancel));
}

database_commands::database_commands(database_list& list, session_store& sessions,
                                     const wxConfigBase& settings, operator_prompts& prompts,
                                     error_row report)
    : list_(list), sessions_(sessions), settings_(settings), prompts_(prompts),
      report_(std::move(report)) {}

void database_commands::refresh() {
    const wxBusyCursor busy;
    sessions_.refresh_session_index(
        [this](const std::string& message) { report_(from_locale_text(message)); });
    list_.show(sessions_.entries());
}

// A folder the store refuses is a row: the operator tries again once it is free.
template <typename Act> void database_commands::on_selected(Act act) {
    const std::string path = list_.selected_path();
    if (path.empty())
        return;
    try {
        act(path);
    } catch (const session_refused& e) {
        report_(from_locale_text(e.what()));
    }
}

// Not refreshed afterwards: viewing changes nothing.
void database_commands::view_selected() {
    on_selected([this](const std::string& path) {
        viewer_dialog viewer(wxGetTopLevelParent(&list_), sessions_.open_reader(path), prompts_,
                             report_);
        viewer.panel().set_ruler(ruler_scale(), read_show_scale(settings_));
        prompts_.run_modal(viewer);
    });
}

// Reported each time the viewer opens, until the operator corrects it in the options.
double database_commands::ruler_scale() const {
    std::optional<wxString> rejected;
    const double scale = read_scale(settings_, &rejected);
    if (rejected)
        report_(wxString::Format(L"The setting scale=%s is not a number of pixels per millimetre "
                                 L"above 0 and up to %g; the ruler uses %g.",
                                 *rejected, max_ruler_scale, scale));
    return scale;
}

void database_commands::delete_selected() {
    on_selected([this](const std::string& path) {
        const wxString question = wxString::Format(
            L"Данные в папке %s будут удалены безвозвратно. Продолжить?", path_text(path));
        if (!prompts_.confirm(question, L"Удаление данных"))
            return;
        const std::vector<std::string> left = sessions_.delete_session(path);
        if (!left.empty())
            report_("The folder " + path_text(path) +
                    " could not be removed whole; left: " + leftovers_text(left));
        refresh();
    });
}

template <typename Edit> void database_commands::edit_selected(Edit edit) {
    on_selected([this, &edit](const std::string& path) {
        try {
            sessions_.edit_session(path, edit);
        } catch (...) {
            refresh();
            throw;
        }
        refresh();
    });
}

void database_commands::assign_side() {
    edit_selected(
        [this](session_writer& writer) { writer.set_side(read_side(settings_).ToStdWstring()); });
}

void database_commands::change_session_code() {
    edit_selected([this](session_writer& writer) {
        const std::optional<wxString> code =
            prompts_.ask_text(L"Введите новый код сеанса", L"Код сеанса", writer.session_code());
        if (code)
            writer.set_session_code(code->ToStdWstring());
    });
}
