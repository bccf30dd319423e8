#include "service/data_service.h"

#include <algorithm>
#include <thread>

#include <boost/asio/post.hpp>
#include <boost/system/system_error.hpp>

#include "base/constants.h"
#include "base/encoding.h"
#include "base/thread_name.h"
#include "recording/session_store.h"
#include "service/client_connection.h"
#include "service/data_service_internal.h"
#include "service/frame_fetch.h"

namespace {
using boost::asio::ip::tcp;

// A moment without free descriptors or buffers passes; accepting at once again would spin.
constexpr std::chrono::milliseconds resource_pause{100};

bool is_about_resources(const boost::system::error_code& error) {
    return error == boost::asio::error::no_descriptors ||
           error == boost::asio::error::no_buffer_space || error == boost::asio::error::no_memory ||
           error.value() == ENFILE;
}

std::size_t worker_count() {
    return std::max(2u, std::thread::hardware_concurrency());
}

// On Windows the address-reuse option would let another program take a port in use; on POSIX it
// only lets a restarted program listen again while connections of its last run linger in
// TIME_WAIT, which would otherwise keep the service off for a minute.
void allow_quick_restart(tcp::acceptor& acceptor) {
#ifndef _WIN32
    acceptor.set_option(tcp::acceptor::reuse_address(true));
#endif
}
} // namespace

service_thread::service_thread(wxEvtHandler* owner, session_store& sessions,
                               const wxString& port_text, const service_options& options)
    : wxThread(wxTHREAD_JOINABLE),
      service_(std::make_unique<data_service>(owner, sessions, port_text.utf8_string(), options)) {}

service_thread::service_thread(wxEvtHandler* owner, session_store& sessions, std::uint16_t port,
                               const service_options& options)
    : wxThread(wxTHREAD_JOINABLE),
      service_(std::make_unique<data_service>(owner, sessions, port, options)) {}

service_thread::~service_thread() = default;

void service_thread::stop() {
    service_->stop();
}

wxThread::ExitCode service_thread::Entry() {
    wxThread::SetNameForCurrent("data service");
    if (service_->listen(port_))
        service_->serve();
    return nullptr;
}

data_service::data_service(wxEvtHandler* owner, session_store& sessions, wanted_port port,
                           const service_options& options)
    : owner_(owner), sessions_(sessions), wanted_port_(std::move(port)), options_(options),
      acceptor_(events_), accept_pause_(events_), idle_timer_(events_), log_(owner),
      workers_(worker_count()) {}

data_service::~data_service() {
    workers_.join();
}

std::uint16_t data_service::configured_port() {
    if (const auto* given = std::get_if<std::uint16_t>(&wanted_port_))
        return *given;
    const std::string& text = std::get<std::string>(wanted_port_);
    if (const std::optional<std::uint16_t> port = parse_service_port(text))
        return *port;
    post_thread_event(owner_, EVT_THREAD_LOG_ERROR,
                      "Data service port \"" + wxString::FromUTF8(visible_text(text)) +
                          "\" is not a decimal number from 1 to 65535; the service uses " +
                          std::to_string(default_data_service_port) + ".");
    return default_data_service_port;
}

// Each step names itself in the error, as the operator needs to know what failed.
bool data_service::listen(std::atomic<std::uint16_t>& port) {
    const std::uint16_t wanted = configured_port();
    const char* step = "open";
    try {
        acceptor_.open(tcp::v4());
        allow_quick_restart(acceptor_);
        step = "bind";
        acceptor_.bind(tcp::endpoint(tcp::v4(), wanted));
        step = "listen";
        acceptor_.listen(boost::asio::socket_base::max_listen_connections);
    } catch (const boost::system::system_error& e) {
        post_thread_event(owner_, EVT_THREAD_SERVICE_DOWN,
                          wxString::Format("%s: %s (data service port %u)", step,
                                           readable_text(e.code().message()), unsigned(wanted)));
        return false;
    }
    port = acceptor_.local_endpoint().port();
    post_thread_event(owner_, EVT_THREAD_LOG_INFO,
                      wxString::Format("Data service listening on port %u", unsigned(port)));
    return true;
}

void data_service::serve() {
    accept();
    close_idle_sessions_later();
    try {
        events_.run();
    } catch (const std::exception& e) {
        post_thread_event(owner_, EVT_THREAD_SERVICE_DOWN, readable_text(e.what()));
    }
}

void data_service::stop() {
    events_.stop();
}

void data_service::accept() {
    acceptor_.async_accept([this](const boost::system::error_code& error, tcp::socket socket) {
        on_accepted(error, std::move(socket));
    });
}

// An accept error (a client that reset during the handshake, no free descriptor for a moment)
// is reported and accepting goes on.
void data_service::on_accepted(const boost::system::error_code& error, tcp::socket socket) {
    if (error == boost::asio::error::operation_aborted)
        return;
    if (!error)
        greet(std::move(socket));
    else
        log_.error(readable_text(error.message()));
    if (!error || !is_about_resources(error))
        return accept();
    accept_pause_.expires_after(resource_pause);
    accept_pause_.async_wait([this](const boost::system::error_code& e) {
        if (e != boost::asio::error::operation_aborted)
            accept();
    });
}

// A client that is gone before its address could be read left nothing to serve.
void data_service::greet(tcp::socket socket) {
    boost::system::error_code error;
    const tcp::endpoint peer = socket.remote_endpoint(error);
    if (error || refuse_beyond_limit(peer.address().to_string()))
        return;
    post_thread_event(owner_, EVT_THREAD_LOG_INFO,
                      "Incoming connection from: " + peer.address().to_string());
    auto connection = std::make_shared<client_connection>(std::move(socket), *this);
    connections_.emplace(connection.get(), connection);
    connection->start();
}

// The socket closes as it goes out of scope: the client sees its connection end at once rather
// than wait in the backlog. One row a minute says so, whoever the clients are.
bool data_service::refuse_beyond_limit(const std::string& peer) {
    if (connections_.size() < options_.max_connections)
        return false;
    log_.error(wxString::Format("%zu clients are connected to the data service, as many as it "
                                "serves at once; a connection from %s is refused.",
                                connections_.size(), peer),
               "connection refused");
    return true;
}

// A failure is logged back on the event loop, where the limited log lives; once the loop has
// stopped, nothing is reported any more.
void data_service::fetch(const std::shared_ptr<client_connection>& connection,
                         const frame_request& request) {
    boost::asio::post(workers_, [this, connection, request] {
        name_lent_thread("data worker");
        std::optional<std::string> failure;
        std::vector<unsigned char> response =
            fetch_response(sessions_, request, [&failure](const std::string& e) { failure = e; });
        boost::asio::post(events_,
                          [this, connection, failure, response = std::move(response)]() mutable {
                              if (failure)
                                  log_.error(readable_text(*failure));
                              connection->respond(std::move(response));
                          });
    });
}

void data_service::forget(client_connection* connection) {
    connections_.erase(connection);
}

void data_service::close_idle_sessions_later() {
    idle_timer_.expires_after(std::chrono::seconds(1));
    idle_timer_.async_wait([this](const boost::system::error_code& error) {
        if (error == boost::asio::error::operation_aborted)
            return;
        boost::asio::post(workers_, [this] {
            name_lent_thread("data worker");
            sessions_.close_idle_handles();
        });
        close_idle_sessions_later();
    });
}
