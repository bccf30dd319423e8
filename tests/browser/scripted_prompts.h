#pragma once

#include <vector>

#include "browser/operator_prompts.h"

// Answers for the operator, and remembers what was asked and what the progress showed.
struct scripted_prompts : operator_prompts {
    bool answer_yes = true;
    std::optional<wxString> text_answer;
    std::optional<wxString> save_path;
    std::function<bool(wxDialog&)> modal; // none: every modal dialog is cancelled
    std::vector<wxString> asked;
    std::vector<wxString> progress;

    struct recorded_progress : progress_view {
        scripted_prompts& prompts;
        explicit recorded_progress(scripted_prompts& p) : prompts(p) {}
        void update(int, const wxString& text) override { prompts.progress.push_back(text); }
    };

    bool confirm(const wxString& text, const wxString& caption) override {
        asked.push_back(caption + ": " + text);
        return answer_yes;
    }
    std::optional<wxString> ask_text(const wxString& message, const wxString& caption,
                                     const wxString& initial) override {
        asked.push_back(caption + ": " + message + " [" + initial + "]");
        return text_answer;
    }
    bool run_modal(wxDialog& dialog) override { return modal && modal(dialog); }
    std::optional<wxString> ask_save_path(wxWindow*, const wxString& message, const wxString& name,
                                          const wxString& wildcard) override {
        asked.push_back(message + ": " + name + " " + wildcard);
        return save_path;
    }
    std::unique_ptr<progress_view> show_progress(wxWindow*, const wxString& title,
                                                 const wxString& text, int,
                                                 std::function<void()>) override {
        progress.push_back(title + ": " + text);
        return std::make_unique<recorded_progress>(*this);
    }
};
