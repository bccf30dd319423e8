#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <wx/event.h>
#include <wx/string.h>

#include "log/repeat_limiter.h"

// The reports that worker threads queue to the main window: a log row or a failure as the event's
// text, everything else as a typed value in the event's payload, from which the window makes its
// texts on the GUI thread. The event types are created once at program start; posting is safe from
// any thread. Payloads hold no wxString, so nothing of them is shared between threads.

// Text: one error or information row of the log.
wxDECLARE_EVENT(EVT_THREAD_LOG_ERROR, wxThreadEvent);
wxDECLARE_EVENT(EVT_THREAD_LOG_INFO, wxThreadEvent);
// Text: the data service could not start (its port is taken, for one). The main window reports it
// on the GUI thread, where windows may be shown, and goes on without it.
wxDECLARE_EVENT(EVT_THREAD_SERVICE_DOWN, wxThreadEvent);
// Text: a camera command of the operator failed (the exposure mode, a capture that could not
// start); the window shows it in a box.
wxDECLARE_EVENT(EVT_THREAD_COMMAND_FAILED, wxThreadEvent);
// frame_notice: every 10th frame of a capture, when the live image is to be redrawn.
wxDECLARE_EVENT(EVT_THREAD_NEW_FRAME, wxThreadEvent);
// stream_statistics: after each frame and each second without one.
wxDECLARE_EVENT(EVT_THREAD_STREAM_STATS, wxThreadEvent);
// record_status: after each odometer count, and when the odometer line is lost.
wxDECLARE_EVENT(EVT_THREAD_RECORD_STATUS, wxThreadEvent);
// recorder_state: after each command of the recorder.
wxDECLARE_EVENT(EVT_THREAD_RECORDER_STATE, wxThreadEvent);

// The camera layer's counters of a capture; fps is delivered frames over the whole seconds since
// the capture started, 0 in the first second.
struct stream_statistics {
    std::uint64_t completed = 0; // frames delivered whole
    std::uint64_t failed = 0;    // frames that stayed incomplete
    std::uint64_t underruns = 0; // frames lost for want of a free buffer
    std::uint64_t missing_packets = 0;
    std::uint64_t resent_packets = 0;
    std::uint64_t fps = 0;
};

// What the camera layer says of one delivered frame.
struct frame_notice {
    std::uint64_t timestamp = 0;
    std::uint32_t missing_packets = 0;
    std::uint32_t queued_buffers = 0;
};

// The recorder's progress: the last count with its packet length (4 or 7) and the frames stored in
// the open session; or, while the odometer line is lost, the device that is being reopened.
struct record_status {
    int kind = 0;
    std::uint32_t dpp = 0;
    std::uint64_t frames_written = 0;
    std::string lost_port; // narrow, as the device path is
};

// What the recorder has and does, as the window's commands and toolbar follow it.
struct recorder_state {
    bool capturing = false; // from a capture that started until its stop has ended
    bool camera_open = false;
    bool busy = false;                 // commands of the window are queued or running
    std::vector<std::wstring> cameras; // the descriptions of the camera list, in its order
    std::wstring shown_camera;         // the description the camera list shows
};

// What the window shows of a report: a status bar text of the statistics, a frame and the record
// status; the event's own text of the rest.
wxString report_text(const wxThreadEvent& event);

// Queues a wxThreadEvent of the given type with the text to the owner; thread-safe, never
// processed synchronously. A null owner drops the event (headless tools run workers without one).
void post_thread_event(wxEvtHandler* owner, const wxEventTypeTag<wxThreadEvent>& type,
                       const wxString& text);

// The same with a value as the payload.
template <typename Value>
void post_report(wxEvtHandler* owner, const wxEventTypeTag<wxThreadEvent>& type,
                 const Value& value) {
    if (!owner)
        return;
    auto* event = new wxThreadEvent(type, wxID_ANY);
    event->SetPayload(value);
    wxQueueEvent(owner, event);
}

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
