#pragma once

#include <string>
#include <vector>

#include <wx/event.h>

#include "log/thread_events.h"

// Stands in for the main window: keeps the thread events queued to it, in order, once the test
// dispatches them with take().
class event_recorder : public wxEvtHandler {
public:
    struct row {
        wxEventType type;
        wxString text;
    };

    event_recorder() {
        for (const auto* type : {&EVT_THREAD_LOG_ERROR, &EVT_THREAD_LOG_INFO, &EVT_THREAD_NEW_FRAME,
                                 &EVT_THREAD_STREAM_STATS, &EVT_THREAD_RECORD_STATUS})
            Bind(*type, [this](wxThreadEvent& event) {
                rows_.push_back({event.GetEventType(), event.GetString()});
            });
    }

    // Dispatches what was queued so far and returns everything received.
    const std::vector<row>& take() {
        while (m_pendingEvents && !m_pendingEvents->IsEmpty())
            ProcessPendingEvents();
        return rows_;
    }

    std::vector<wxString> texts(wxEventType type) {
        std::vector<wxString> found;
        for (const auto& r : take())
            if (r.type == type)
                found.push_back(r.text);
        return found;
    }

    ~event_recorder() override { DeletePendingEvents(); }

private:
    std::vector<row> rows_;
};
