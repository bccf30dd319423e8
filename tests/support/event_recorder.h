#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <wx/event.h>

#include "log/thread_events.h"

// Polls the condition until it holds, or fails after 20 s, so that a lost event fails the test
// rather than hanging it.
inline bool eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (; !condition(); std::this_thread::sleep_for(std::chrono::milliseconds(2)))
        if (std::chrono::steady_clock::now() > deadline)
            return false;
    return true;
}

// Stands in for the main window: keeps the thread events queued to it, in order, with the text
// the window shows of each, once the test thread dispatches them (texts and strings dispatch
// first).
class event_recorder : public wxEvtHandler {
public:
    struct row {
        wxEventType type;
        wxString text;
    };
    std::vector<row> rows;

    event_recorder() {
        for (const auto* type :
             {&EVT_THREAD_LOG_ERROR, &EVT_THREAD_LOG_INFO, &EVT_THREAD_NEW_FRAME,
              &EVT_THREAD_STREAM_STATS, &EVT_THREAD_RECORD_STATUS, &EVT_THREAD_SERVICE_DOWN})
            Bind(*type, [this](wxThreadEvent& event) {
                rows.push_back({event.GetEventType(), report_text(event)});
            });
    }
    ~event_recorder() override { DeletePendingEvents(); }

    // ProcessPendingEvents handles one event per call.
    void dispatch() {
        while (has_pending())
            ProcessPendingEvents();
    }

    std::vector<wxString> texts(wxEventType type) {
        dispatch();
        std::vector<wxString> found;
        for (const auto& r : rows)
            if (r.type == type)
                found.push_back(r.text);
        return found;
    }

    // The same as UTF-8 text.
    std::vector<std::string> strings(wxEventType type) {
        std::vector<std::string> found;
        for (const wxString& text : texts(type))
            found.push_back(std::string(text.utf8_str()));
        return found;
    }

    // Dispatches on the test thread until the condition holds or 20 s have passed.
    bool pump_until(const std::function<bool()>& condition) {
        return eventually([&] { return dispatch(), condition(); });
    }

    bool pump_until_count(wxEventType type, std::size_t count) {
        return pump_until([&] { return texts(type).size() >= count; });
    }

private:
    bool has_pending() {
        wxCriticalSectionLocker guard(m_pendingEventsLock);
        return m_pendingEvents && !m_pendingEvents->IsEmpty();
    }
};
