#pragma once

#include <memory>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <wx/event.h>

#include "recording/coordinate_protocol.h"
#include "recording/session_db.h"

// Polls the coordinate server on the write thread's event loop: request, complete 1024-byte
// reply, evaluation, next request at once. A new session closes the session database; replies
// of the known session write its code, orientation and side into the open one. A refused
// connect is retried after a pause, silently and without limit; a lost connection is reported
// and reconnected; a failed send ends the polling. Resolution failures and database failures
// leave the event loop as exceptions and so end the write thread. Event-loop thread only.
class coordinate_client : public std::enable_shared_from_this<coordinate_client> {
public:
    coordinate_client(boost::asio::io_context& events, wxEvtHandler* owner, session_writer& session,
                      std::string address, std::string port, std::string side);

    void start();
    // Abandons whatever is outstanding; its handlers then run with operation_aborted.
    void stop();

private:
    using tcp = boost::asio::ip::tcp;

    void on_resolved(const boost::system::error_code& error,
                     const tcp::resolver::results_type& results);
    void connect();
    void on_connected(const boost::system::error_code& error);
    void send_request();
    void on_received(const boost::system::error_code& error);
    void apply(const coord_action& action);
    bool shutting_down(const boost::system::error_code& error) const;

    tcp::resolver resolver_;
    tcp::socket socket_;
    tcp::endpoint server_;
    boost::asio::steady_timer retry_timer_;
    wxEvtHandler* owner_;
    session_writer& session_;
    std::string address_;
    std::string port_;
    std::string side_;
    const coord_request_bytes request_ = coord_request();
    coord_reply_bytes reply_{};
    coord_session_state state_;
    bool stopped_ = false;
};
