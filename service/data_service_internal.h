#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <variant>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>
#include <wx/event.h>

#include "log/thread_events.h"
#include "service/data_protocol.h"
#include "service/data_service.h"

class client_connection;
class session_store;

// The data service behind service_thread: the listener and the connections on one event loop,
// and the workers that fetch and encode. The event loop's thread owns the acceptor, the timers,
// the connection list and the limited log; the workers touch only the store and post their results
// back.
class data_service {
public:
    // The setting's text, or a port the program gives.
    using wanted_port = std::variant<std::string, std::uint16_t>;

    data_service(wxEvtHandler* owner, session_store& sessions, wanted_port port,
                 const service_options& options);
    // Joins the workers first: a job still running must find the store and the owner.
    ~data_service();
    data_service(const data_service&) = delete;
    data_service& operator=(const data_service&) = delete;

    // The thread body: listens, then serves until stop(). False, after telling the owner, when
    // the port cannot be taken.
    bool listen(std::atomic<std::uint16_t>& port);
    void serve();
    // Any thread: the loop ends and no worker reports any more.
    void stop();

    // For connections, on the event loop. Error rows go through log(), so that many clients
    // failing alike (a flood, a network that drops) write one row a minute.
    wxEvtHandler* owner() const { return owner_; }
    limited_log& log() { return log_; }
    const service_options& options() const { return options_; }
    void fetch(const std::shared_ptr<client_connection>& connection, const frame_request& request);
    void forget(client_connection* connection);

private:
    std::uint16_t configured_port();
    void accept();
    void on_accepted(const boost::system::error_code& error, boost::asio::ip::tcp::socket socket);
    void greet(boost::asio::ip::tcp::socket socket);
    bool refuse_beyond_limit(const std::string& peer);
    void close_idle_sessions_later();

    wxEvtHandler* owner_;
    session_store& sessions_;
    wanted_port wanted_port_;
    service_options options_;
    boost::asio::io_context events_;
    boost::asio::ip::tcp::acceptor acceptor_;
    boost::asio::steady_timer accept_pause_;
    boost::asio::steady_timer idle_timer_;
    limited_log log_;
    std::map<client_connection*, std::weak_ptr<client_connection>> connections_;
    boost::asio::thread_pool workers_;
};
