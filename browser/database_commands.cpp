#include "browser/database_commands.h"

#include <filesystem>
#include <mutex>

#include "base/encoding.h"
#include "browser/database_list.h"
#include "browser/viewer_dialog.h"
#include "log/thread_events.h"
#include "recording/session_db.h"
#include "settings/settings.h"

namespace {
namespace fs = std::filesystem;

// Enough to tell the operator what stayed; the rest of a large folder adds nothing.
constexpr std::size_t listed_leftovers = 5;

wxString path_text(const std::string& path) {
    return readable_text(path);
}

wxString leftovers_text(const std::vector<std::string>& left) {
    wxString text;
    for (std::size_t i = 0; i < left.size() && i < listed_leftovers; ++i)
        text += (i ? ", " : "") + path_text(left[i]);
    if (left.size() > listed_leftovers)
        text += wxString::Format(" and %zu more", left.size() - listed_leftovers);
    return text;
}

// The data service may hold a folder open; its handles go before anyone else opens one.
void release_service_handles() {
    std::unique_lock lock(session_index_lock);
    close_session_handles();
}

// Opened under the lock, so that the data service cannot take the folder back in between.
std::unique_ptr<session_reader> open_released(const std::string& path) {
    std::unique_lock lock(session_index_lock);
    close_session_handles();
    return std::make_unique<session_reader>(path);
}

} // namespace

database_commands::database_commands(database_list& list, const wxConfigBase& settings,
                                     operator_prompts& prompts, error_row report)
    : list_(list), settings_(settings), prompts_(prompts), report_(std::move(report)) {}

void database_commands::refresh() {
    list_.refresh([this](const std::string& message) { report_(readable_text(message)); });
}

// Not refreshed afterwards: viewing changes nothing.
void database_commands::view_selected() {
    const std::string path = list_.selected_path();
    if (path.empty())
        return;
    viewer_dialog viewer(wxGetTopLevelParent(&list_), open_released(path), prompts_, report_);
    viewer.panel().set_ruler(ruler_scale(), read_show_scale(settings_));
    prompts_.run_modal(viewer);
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
    const std::string path = list_.selected_path();
    if (path.empty())
        return;
    const wxString question = wxString::Format(
        L"Данные в папке %s будут удалены безвозвратно. Продолжить?", path_text(path));
    if (!prompts_.confirm(question, L"Удаление данных"))
        return;
    release_service_handles();
    const std::vector<std::string> left = remove_session_folder(path);
    if (!left.empty())
        report_("The folder " + path_text(path) +
                " could not be removed whole; left: " + leftovers_text(left));
    refresh();
}

// Opening the folder for writing would create an empty database in a folder that no longer
// holds one (removed by someone else since the last refresh).
template <typename Edit> void database_commands::edit_selected(Edit edit) {
    const std::string path = list_.selected_path();
    if (path.empty())
        return;
    if (!holds_session_database(path)) {
        report_("The folder " + path_text(path) + " no longer holds a session database.");
        return refresh();
    }
    try {
        release_service_handles();
        session_writer writer;
        writer.open(path);
        edit(writer);
    } catch (...) {
        refresh();
        throw;
    }
    refresh();
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

std::vector<std::string> remove_session_folder(const std::string& path) {
    std::error_code error;
    fs::remove_all(path, error);
    std::vector<std::string> left;
    if (!fs::exists(fs::symlink_status(path, error)))
        return left;
    for (auto entry = fs::recursive_directory_iterator(path, error);
         !error && entry != fs::recursive_directory_iterator(); entry.increment(error))
        left.push_back(entry->path().string());
    if (left.empty())
        left.push_back(path);
    return left;
}

bool holds_session_database(const std::string& path) {
    std::error_code error;
    return fs::is_regular_file(fs::path(path) / "CURRENT", error);
}
