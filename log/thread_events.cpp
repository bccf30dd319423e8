#include "log/thread_events.h"

wxDEFINE_EVENT(EVT_THREAD_LOG_ERROR, wxThreadEvent);
wxDEFINE_EVENT(EVT_THREAD_LOG_INFO, wxThreadEvent);
wxDEFINE_EVENT(EVT_THREAD_NEW_FRAME, wxThreadEvent);
wxDEFINE_EVENT(EVT_THREAD_STREAM_STATS, wxThreadEvent);
wxDEFINE_EVENT(EVT_THREAD_RECORD_STATUS, wxThreadEvent);

void post_thread_event(wxEvtHandler* owner, const wxEventTypeTag<wxThreadEvent>& type,
                       const wxString& text) {
    if (!owner)
        return;
    auto* event = new wxThreadEvent(type, wxID_ANY);
    event->SetString(text.Clone());
    wxQueueEvent(owner, event);
}
