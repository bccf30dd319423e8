#pragma once

#include <chrono>
#include <memory>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <wx/event.h>

#include "log/thread_events.h"
#include "recording/coordinate_protocol.h"
#include "recording/session_store.h"

// Polls the coordinate server on the write thread's event loop: request, complete 1024-byte
// reply, evaluation, next request. A server that answers at once would otherwise be polled
// thousands of times a second, each poll costing the recorder's thread what a frame does; so
// requests go out at most every 20 ms, which still sees a new session within a car's few cm. A new
// session closes the session database; replies of the known session write its code, orientation and
// side into the open one.
//
// The server is an auxiliary peer: nothing it does stops the recording. A name that does not
// resolve is tried again every few seconds; a refused connect is retried after a pause, silently;
// a lost connection or a failed send is reported and reconnected after a pause; a failed metadata
// write is reported and polling goes on. A server that keeps the connection open but stops
// answering would otherwise hold every session change back for good: a reply that has not come
// within the reply timeout counts as a lost connection. Identical rows are written at most once a
// minute, so a server that accepts and closes at once, or hangs on every connection, costs one row
// a minute and no busy loop.
// Event-loop thread only.
class coordinate_client : public std::enable_shared_from_this<coordinate_client> {
public:
    // A working server answers within milliseconds; five seconds is far beyond any pause of one,
    // while the session name it may have changed meanwhile is late by at most a few hundred metres
    // of track.
    static constexpr std::chrono::seconds default_reply_timeout{5};

    // reply_timeout runs from each request until its whole reply is in.
    coordinate_client(boost::asio::io_context& events, wxEvtHandler* owner, session_writer& session,
                      std::string address, std::string port, std::string side,
                      std::chrono::steady_clock::duration reply_timeout = default_reply_timeout);

    void start();
    // Abandons whatever is outstanding; its handlers then run with operation_aborted.
    void stop();

private:
    using tcp = boost::asio::ip::tcp;

    void resolve();
    void on_resolved(const boost::system::error_code& error,
                     const tcp::resolver::results_type& results);
    void connect();
    void on_connected(const boost::system::error_code& error);
    void send_request();
    void send_next_request();
    void on_sent(const boost::system::error_code& error);
    void on_received(const boost::system::error_code& error);
    void lose_connection(const boost::system::error_code& error);
    void on_reply_overdue(const boost::system::error_code& error);
    void reconnect_later();
    void apply(const coord_action& action);
    void write_metadata(const coord_metadata& metadata);
    void after(std::chrono::steady_clock::duration pause, void (coordinate_client::*step)());
    bool shutting_down(const boost::system::error_code& error) const;

    tcp::resolver resolver_;
    tcp::socket socket_;
    tcp::endpoint server_;
    boost::asio::steady_timer retry_timer_;
    // Armed while a request waits for its reply; at rest it expires never.
    boost::asio::steady_timer reply_deadline_;
    std::chrono::steady_clock::duration reply_timeout_;
    wxEvtHandler* owner_;
    limited_log log_;
    session_writer& session_;
    std::string address_;
    std::string port_;
    std::string side_;
    const coord_request_bytes request_ = coord_request();
    coord_reply_bytes reply_{};
    coord_session_state state_;
    std::chrono::steady_clock::time_point last_request_{};
    bool stopped_ = false;
};
