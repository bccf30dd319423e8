#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <wx/dialog.h>
#include <wx/string.h>
#include <wx/window.h>

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

// The toolkit's dialogs, centred on the given window.
std::unique_ptr<operator_prompts> dialog_prompts(wxWindow* parent);
