#pragma once

#include <chrono>
#include <functional>
#include <string>

#include <wx/event.h>
#include <wx/string.h>

#include "log/repeat_limiter.h"

// Event types that worker threads queue to the main window. Each carries its text in the
// event's string. Created once at program start; safe to use from any thread.
wxDECLARE_EVENT(EVT_THREAD_LOG_ERROR, wxThreadEvent);
wxDECLARE_EVENT(EVT_THREAD_LOG_INFO, wxThreadEvent);
wxDECLARE_EVENT(EVT_THREAD_NEW_FRAME, wxThreadEvent);
wxDECLARE_EVENT(EVT_THREAD_STREAM_STATS, wxThreadEvent);
wxDECLARE_EVENT(EVT_THREAD_RECORD_STATUS, wxThreadEvent);
// The data service could not start (its port is taken, for one); the text says why. The main
// window reports it on the GUI thread, where windows may be shown, and goes on without it.
wxDECLARE_EVENT(EVT_THREAD_SERVICE_DOWN, wxThreadEvent);

// Queues a wxThreadEvent of the given type with the text to the owner; thread-safe, never
// processed synchronously. A null owner drops the event (headless tools run workers without one).
void post_thread_event(wxEvtHandler* owner, const wxEventTypeTag<wxThreadEvent>& type,
                       const wxString& text);

// The log rows of one worker that talks to a failing peer: a row identical to one posted within
// the last minute is dropped (see repeat_limiter). Used on the worker's own thread only.
class limited_log {
public:
    using clock_function = std::function<repeat_limiter::clock::time_point()>;

    explicit limited_log(wxEvtHandler* owner, clock_function now = repeat_limiter::clock::now);

    void error(const wxString& text);
    void info(const wxString& text);
    // Rows of one failure whose text varies (it names a new file each time) share a key.
    void error(const wxString& text, const std::string& key);

private:
    void post(const wxEventTypeTag<wxThreadEvent>& type, const wxString& text,
              const std::string& key);

    wxEvtHandler* owner_;
    clock_function now_;
    repeat_limiter limiter_;
};
