#include "log/thread_events.h"

wxDEFINE_EVENT(EVT_THREAD_LOG_ERROR, wxThreadEvent);
wxDEFINE_EVENT(EVT_THREAD_LOG_INFO, wxThreadEvent);
wxDEFINE_EVENT(EVT_THREAD_NEW_FRAME, wxThreadEvent);
wxDEFINE_EVENT(EVT_THREAD_STREAM_STATS, wxThreadEvent);
wxDEFINE_EVENT(EVT_THREAD_RECORD_STATUS, wxThreadEvent);
wxDEFINE_EVENT(EVT_THREAD_SERVICE_DOWN, wxThreadEvent);

void post_thread_event(wxEvtHandler* owner, const wxEventTypeTag<wxThreadEvent>& type,
                       const wxString& text) {
    if (!owner)
        return;
    auto* event = new wxThreadEvent(type, wxID_ANY);
    event->SetString(text.Clone());
    wxQueueEvent(owner, event);
}

limited_log::limited_log(wxEvtHandler* owner, clock_function now)
    : owner_(owner), now_(std::move(now)) {}

void limited_log::error(const wxString& text) {
    post(EVT_THREAD_LOG_ERROR, text, "E" + std::string(text.utf8_str()));
}

void limited_log::info(const wxString& text) {
    post(EVT_THREAD_LOG_INFO, text, "I" + std::string(text.utf8_str()));
}

void limited_log::error(const wxString& text, const std::string& key) {
    post(EVT_THREAD_LOG_ERROR, text, "K" + key);
}

void limited_log::post(const wxEventTypeTag<wxThreadEvent>& type, const wxString& text,
                       const std::string& key) {
    if (limiter_.admit(key, now_()))
        post_thread_event(owner_, type, text);
}
