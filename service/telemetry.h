#pragma once

#include <cstdint>
#include <memory>

#include <wx/event.h>
#include <wx/string.h>
#include <wx/thread.h>

#include "base/constants.h"

class session_store;
class telemetry_responder;

// Answers status queries of a supervising program: each UDP datagram on the port is read as a
// small XML command and answered to its sender with the side this subsystem films and whether
// it records (service/telemetry_reply.h). It sends nothing by itself. Runs its own event loop.
//
// Joinable; the recorder makes it, calls Run(), and at shutdown stop(), Wait() and deletes it.
class telemetry_thread : public wxThread {
public:
    // Opens the socket on 0.0.0.0 and the port (0: any free one, for tests) now, on the calling
    // thread; throws boost::system::system_error naming "open" or "bind". The side is kept as it
    // is now; whether the store's current session is open is asked for every query. The owner and
    // the store must outlive the thread.
    telemetry_thread(wxEvtHandler* owner, session_store& sessions, const wxString& side,
                     std::uint16_t port = telemetry_port);
    ~telemetry_thread() override;

    // Any thread: the event loop ends; then Wait().
    void stop();
    std::uint16_t port() const;

protected:
    ExitCode Entry() override;

private:
    std::unique_ptr<telemetry_responder> responder_;
};
