#include "log/thread_events.h"

#include "base/encoding.h"

wxDEFINE_EVENT(EVT_THREAD_LOG_ERROR, wxThreadEvent);
wxDEFINE_EVENT(EVT_THREAD_LOG_INFO, wxThreadEvent);
wxDEFINE_EVENT(EVT_THREAD_SERVICE_DOWN, wxThreadEvent);
wxDEFINE_EVENT(EVT_THREAD_COMMAND_FAILED, wxThreadEvent);
wxDEFINE_EVENT(EVT_THREAD_NEW_FRAME, wxThreadEvent);
wxDEFINE_EVENT(EVT_THREAD_STREAM_STATS, wxThreadEvent);
wxDEFINE_EVENT(EVT_THREAD_RECORD_STATUS, wxThreadEvent);
wxDEFINE_EVENT(EVT_THREAD_RECORDER_STATE, wxThreadEvent);

namespace {
using ull = unsigned long long;

// The frame rate early, where a narrow status field still shows it.
wxString statistics_text(const stream_statistics& s) {
    return wxString::Format("delivered: %llu fps: %llu failed: %llu underruns: %llu missing "
                            "packets: %llu resent: %llu",
                            ull(s.completed), ull(s.fps), ull(s.failed), ull(s.underruns),
                            ull(s.missing_packets), ull(s.resent_packets));
}

wxString frame_text(const frame_notice& f) {
    return wxString::Format("timestamp: %llu missing packets: %u queued buffers: %u",
                            ull(f.timestamp), unsigned(f.missing_packets),
                            unsigned(f.queued_buffers));
}

wxString record_text(const record_status& r) {
    if (!r.lost_port.empty())
        return L"ДПП: нет связи с портом " + readable_text(r.lost_port);
    return wxString::Format(L"ДПП[%d]: %u Записано кадров: %llu", r.kind, unsigned(r.dpp),
                            ull(r.frames_written));
}
} // namespace

wxString report_text(const wxThreadEvent& event) {
    const wxEventType type = event.GetEventType();
    if (type == EVT_THREAD_STREAM_STATS)
        return statistics_text(event.GetPayload<stream_statistics>());
    if (type == EVT_THREAD_NEW_FRAME)
        return frame_text(event.GetPayload<frame_notice>());
    if (type == EVT_THREAD_RECORD_STATUS)
        return record_text(event.GetPayload<record_status>());
    return event.GetString();
}

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
