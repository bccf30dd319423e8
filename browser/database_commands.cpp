#include "browser/database_commands.h"

#include <wx/utils.h>

#include "base/encoding.h"
#include "browser/database_list.h"
#include "browser/viewer_dialog.h"
#include "log/thread_events.h"
#include "recording/session_store.h"
#include "settings/settings.h"

namespace {
// Enough to tell the operator what stayed; the rest of a large folder adds nothing.
constexpr std::size_t listed_leftovers = 5;

wxString leftovers_text(const std::vector<std::string>& left) {
    wxString text;
    for (std::size_t i = 0; i < left.size() && i < listed_leftovers; ++i)
        text += (i ? ", " : "") + readable_text(left[i]);
    if (left.size() > listed_leftovers)
        text += wxString::Format(" and %zu more", left.size() - listed_leftovers);
    return text;
}
} // namespace

database_commands::database_commands(database_list& list, session_store& sessions,
                                     const wxConfigBase& settings, operator_prompts& prompts,
                                     error_row report)
    : list_(list), sessions_(sessions), settings_(settings), prompts_(prompts),
      report_(std::move(report)) {}

void database_commands::refresh() {
    const wxBusyCursor busy;
    sessions_.refresh_session_index(
        [this](const std::string& message) { report_(readable_text(message)); });
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
        report_(readable_text(e.what()));
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
            L"Данные в папке %s будут удалены безвозвратно. Продолжить?", readable_text(path));
        if (!prompts_.confirm(question, L"Удаление данных"))
            return;
        const std::vector<std::string> left = sessions_.delete_session(path);
        if (!left.empty())
            report_("The folder " + readable_text(path) +
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
