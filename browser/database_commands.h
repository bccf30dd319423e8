#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <wx/config.h>
#include <wx/dialog.h>
#include <wx/string.h>
#include <wx/window.h>

class database_list;
class session_store;

// The progress of a long job as the operator sees it, gone when the object is destroyed.
class progress_view {
public:
    virtual ~progress_view() = default;
    virtual void update(int done, const wxString& text) = 0;
};

// What the database commands and the viewer ask the operator. The toolkit's dialogs in the
// program; tests answer for the operator.
class operator_prompts {
public:
    virtual ~operator_prompts() = default;
    virtual bool confirm(const wxString& text, const wxString& caption) = 0;
    // The text entered, or nothing when the dialog was cancelled.
    virtual std::optional<wxString> ask_text(const wxString& message, const wxString& caption,
                                             const wxString& initial) = 0;
    // Shows a modal dialog; true when it ended with OK.
    virtual bool run_modal(wxDialog& dialog) = 0;
    // The file chosen to save to, or nothing when the dialog was cancelled.
    virtual std::optional<wxString> ask_save_path(wxWindow* parent, const wxString& message,
                                                  const wxString& name,
                                                  const wxString& wildcard) = 0;
    // Shows progress from 0 to the maximum, while every other window waits; cancel is called on
    // the GUI thread when the operator cancels.
    virtual std::unique_ptr<progress_view> show_progress(wxWindow* parent, const wxString& title,
                                                         const wxString& text, int maximum,
                                                         std::function<void()> cancel) = 0;
};

// The dialogs themselves, centred on the given window.
class dialog_prompts : public operator_prompts {
public:
    explicit dialog_prompts(wxWindow* parent) : parent_(parent) {}
    bool confirm(const wxString& text, const wxString& caption) override;
    std::optional<wxString> ask_text(const wxString& message, const wxString& caption,
                                     const wxString& initial) override;
    bool run_modal(wxDialog& dialog) override;
    std::optional<wxString> ask_save_path(wxWindow* parent, const wxString& message,
                                          const wxString& name, const wxString& wildcard) override;
    std::unique_ptr<progress_view> show_progress(wxWindow* parent, const wxString& title,
                                                 const wxString& text, int maximum,
                                                 std::function<void()> cancel) override;

private:
    wxWindow* parent_;
};

// The commands of the menu "Обработка" on the database list's first selected row: view the
// session, delete its folder, assign the configured side, change the session code; all but the
// viewer refresh the list afterwards, and each does nothing when no row is selected. GUI thread
// only.
//
// A folder the store refuses (in use, or gone since the refresh) is an error row. A folder the
// engine cannot open (held by another program) is not caught: the error reaches the application's
// box, after the list has been refreshed where a command changes a session, so list and program
// stay usable.
class database_commands {
public:
    using error_row = std::function<void(const wxString& text)>;

    // The list and the store must outlive the commands.
    database_commands(database_list& list, session_store& sessions, const wxConfigBase& settings,
                      operator_prompts& prompts, error_row report);

    // Rescans the root and reloads the rows; a busy cursor shows meanwhile. Folders that are no
    // session database are reported and left out.
    void refresh();
    // The viewer, modal, with the ruler from the settings "scale" and "show_scale".
    void view_selected();
    void delete_selected();
    void assign_side();
    void change_session_code();

private:
    template <typename Act> void on_selected(Act act);
    template <typename Edit> void edit_selected(Edit edit);
    // The setting "scale", or its default with an error row when the stored value is unusable.
    double ruler_scale() const;

    database_list& list_;
    session_store& sessions_;
    const wxConfigBase& settings_;
    operator_prompts& prompts_;
    error_row report_;
};
