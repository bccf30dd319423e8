#pragma once

#include <wx/event.h>
#include <wx/string.h>

// Event types that worker threads queue to the main window. Each carries its text in the
// event's string. Created once at program start; safe to use from any thread.
wxDECLARE_EVENT(EVT_THREAD_LOG_ERROR, wxThreadEvent);
wxDECLARE_EVENT(EVT_THREAD_LOG_INFO, wxThreadEvent);
wxDECLARE_EVENT(EVT_THREAD_NEW_FRAME, wxThreadEvent);
wxDECLARE_EVENT(EVT_THREAD_STREAM_STATS, wxThreadEvent);
wxDECLARE_EVENT(EVT_THREAD_RECORD_STATUS, wxThreadEvent);

// Queues a wxThreadEvent of the given type with the text to the owner; thread-safe, never
// processed synchronously. A null owner drops the event (headless tools run workers without one).
void post_thread_event(wxEvtHandler* owner, const wxEventTypeTag<wxThreadEvent>& type,
                       const wxString& text);
