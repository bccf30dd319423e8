#include "recording/coordinate_client.h"

#include <chrono>
#include <stdexcept>

#include <boost/asio/connect.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include "log/thread_events.h"
#include "recording/session_format.h"

namespace {
// Long enough not to take a core from the capture thread, short enough to follow a server that
// comes back.
constexpr std::chrono::seconds reconnect_pause{1};

wxString system_text(const boost::system::error_code& error) {
    return wxString(error.message().c_str(), *wxConvCurrent);
}
} // namespace

coordinate_client::coordinate_client(boost::asio::io_context& events, wxEvtHandler* owner,
                                     session_writer& session, std::string address, std::string port,
                                     std::string side)
    : resolver_(events), socket_(events), retry_timer_(events), owner_(owner), session_(session),
      address_(std::move(address)), port_(std::move(port)), side_(std::move(side)) {}

void coordinate_client::start() {
    resolver_.async_resolve(
        address_, port_, tcp::resolver::address_configured,
        [self = shared_from_this()](const boost::system::error_code& error,
                                    const tcp::resolver::results_type& results) {
            self->on_resolved(error, results);
        });
}

void coordinate_client::stop() {
    stopped_ = true;
    resolver_.cancel();
    retry_timer_.cancel();
    boost::system::error_code ignored;
    socket_.close(ignored);
}

// A completion that was already queued when the client stopped must not start anything new.
bool coordinate_client::shutting_down(const boost::system::error_code& error) const {
    return stopped_ || error == boost::asio::error::operation_aborted;
}

void coordinate_client::on_resolved(const boost::system::error_code& error,
                                    const tcp::resolver::results_type& results) {
    if (shutting_down(error))
        return;
    if (error || results.empty())
        throw std::runtime_error("CoordServer resolve error");
    post_thread_event(owner_, EVT_THREAD_LOG_INFO, "Coorinate server address resloved.");
    server_ = results.begin()->endpoint();
    connect();
}

void coordinate_client::connect() {
    boost::system::error_code ignored;
    socket_.close(ignored);
    socket_.async_connect(server_, [self = shared_from_this()](const boost::system::error_code& e) {
        self->on_connected(e);
    });
}

void coordinate_client::on_connected(const boost::system::error_code& error) {
    if (shutting_down(error))
        return;
    if (error) {
        retry_timer_.expires_after(reconnect_pause);
        retry_timer_.async_wait([self = shared_from_this()](const boost::system::error_code& e) {
            if (!self->shutting_down(e))
                self->connect();
        });
        return;
    }
    post_thread_event(owner_, EVT_THREAD_LOG_INFO, "Connect to coordinate server. Ok.");
    send_request();
}

// A reply is evaluated only once all of its bytes are in, so a short receive can never mix the
// bytes of two replies.
void coordinate_client::send_request() {
    auto self = shared_from_this();
    boost::asio::async_write(
        socket_, boost::asio::buffer(request_),
        [self](const boost::system::error_code& error, std::size_t) {
            if (self->shutting_down(error))
                return;
            if (error) {
                post_thread_event(self->owner_, EVT_THREAD_LOG_ERROR, system_text(error));
                return;
            }
            boost::asio::async_read(
                self->socket_, boost::asio::buffer(self->reply_),
                [self](const boost::system::error_code& e, std::size_t) { self->on_received(e); });
        });
}

void coordinate_client::on_received(const boost::system::error_code& error) {
    if (shutting_down(error))
        return;
    if (error) {
        post_thread_event(owner_, EVT_THREAD_LOG_ERROR, system_text(error));
        connect();
        return;
    }
    apply(evaluate_coord_reply(state_, parse_coord_reply(reply_), session_.is_open(), side_));
    send_request();
}

void coordinate_client::apply(const coord_action& action) {
    if (action.close_session)
        session_.close();
    if (action.new_session_row)
        post_thread_event(owner_, EVT_THREAD_LOG_INFO,
                          wxString(action.new_session_row->c_str(), *wxConvCurrent));
    if (!action.metadata)
        return;
    session_.set_session_code(wide_text(action.metadata->session_code));
    session_.set_orientation(wide_text(action.metadata->orientation));
    session_.set_side(wide_text(action.metadata->side));
}
