#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

#include <wx/event.h>
#include <wx/string.h>
#include <wx/thread.h>

#include "service/data_protocol.h"

class data_service;
class session_store;

// What the service gives each client, so that clients that stay, flood or stop reading cannot take
// the descriptors and memory the recording needs. The program uses the defaults; tests shorten the
// times.
struct service_options {
    // A connection with no request byte for this long is closed: a client between two requests
    // is quicker than a minute, one that forgot its connection is not.
    std::chrono::milliseconds idle_time{60000};
    // A connection whose client takes no byte of its response for this long is closed: a live
    // client takes some within milliseconds, and a large frame over a slow link still flows.
    std::chrono::milliseconds stalled_send_time{10000};
    // Connections served at once; the next ones are accepted and closed at once. A quarter of the
    // usual limit of 1,024 descriptors, and far more than the few programs on a car that fetch.
    std::size_t max_connections = 256;
    request_timing requests;
};

// The port a program (a test, a window among several) gives instead of the setting: any free one.
inline constexpr std::uint16_t any_free_port = 0;

// The data service: other programs connect over TCP and fetch recorded frames as PNG (wire format
// in service/data_protocol.h). This thread runs the one event loop that touches the sockets: the
// listener and every connection. Fetching and encoding run on a few worker threads, so one slow
// request holds up no other client; each connection still gets one response per request, in
// order.
//
// Joinable; the recorder makes it, calls Run(), and at shutdown stop(), Wait() and deletes it.
// A port that cannot be taken is reported to the owner as EVT_THREAD_SERVICE_DOWN and the thread
// ends; the rest of the program goes on without the service.
class service_thread : public wxThread {
public:
    // Serves the store's sessions. port_text is the setting data_service_port; a text that is no
    // decimal number from 1 to 65535 gives the default port 12600 and an error row naming it.
    // Once listening, an information row names the port. The owner and the store must outlive the
    // thread.
    service_thread(wxEvtHandler* owner, session_store& sessions, const wxString& port_text,
                   const service_options& options = {});
    // The same on a port the program gives (any_free_port: any free one).
    service_thread(wxEvtHandler* owner, session_store& sessions, std::uint16_t port,
                   const service_options& options = {});
    ~service_thread() override;

    // The thread that made it, once, before Wait(): ends every connection and waits for the
    // workers, so that nothing touches the store or the owner afterwards.
    void stop();

    // The port listened on, once listening; 0 before and when the service could not start.
    std::uint16_t port() const { return port_; }

protected:
    ExitCode Entry() override;

private:
    std::unique_ptr<data_service> service_;
    std::atomic<std::uint16_t> port_{0};
};
