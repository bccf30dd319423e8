#pragma once

#include <functional>
#include <utility>

#include <wx/thread.h>

// A joinable thread the toolkit knows that runs one function: a thread it does not know that
// starts the toolkit's threads (capture, write) races with them inside the toolkit. Internal to
// the recorder.
class function_thread : public wxThread {
public:
    explicit function_thread(std::function<void()> body)
        : wxThread(wxTHREAD_JOINABLE), body_(std::move(body)) {}

protected:
    ExitCode Entry() override {
        body_();
        return nullptr;
    }

private:
    const std::function<void()> body_;
};
