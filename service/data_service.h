#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include <wx/event.h>
#include <wx/string.h>
#include <wx/thread.h>

class data_service;

// The data service: other programs connect over TCP and fetch recorded frames as PNG (wire format
// in service/data_protocol.h). This thread runs the one event loop that touches the sockets: the
// listener and every connection. Fetching and encoding run on a few worker threads, so one slow
// request holds up no other client; each connection still gets one response per request, in
// order.
//
// Joinable; the main window makes it, calls Run(), and at shutdown stop(), Wait() and deletes it.
// A port that cannot be taken is reported to the owner as EVT_THREAD_SERVICE_DOWN and the thread
// ends; the rest of the program goes on without the service.
class service_thread : public wxThread {
public:
    // port_text is the setting data_service_port; a text that is no unsigned decimal number gives
    // the default port 12600 and an error row naming it. The owner must outlive the thread.
    service_thread(wxEvtHandler* owner, const wxString& port_text);
    ~service_thread() override;

    // GUI thread, once, before Wait(): ends every connection and waits for the workers, so that
    // nothing touches the session layer or the owner afterwards.
    void stop();

    // The port listened on, once listening; 0 before and when the service could not start.
    std::uint16_t port() const { return port_; }

protected:
    ExitCode Entry() override;

private:
    std::unique_ptr<data_service> service_;
    std::atomic<std::uint16_t> port_{0};
};
