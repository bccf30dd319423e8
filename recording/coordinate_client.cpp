#include "recording/coordinate_client.h"

#include <stdexcept>

#include <boost/asio/connect.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include "base/encoding.h"
#include "recording/session_format.h"

namespace {
// Long enough not to take a core from the capture thread, short enough to follow a server that
// comes back.
constexpr std::chrono::seconds reconnect_pause{1};
// A name server that does not know the name now rarely knows it a moment later.
constexpr std::chrono::seconds resolve_pause{5};
constexpr std::chrono::milliseconds poll_interval{20};

wxString system_text(const boost::system::error_code& error) {
    return readable_text(error.message());
}

wxString overdue_text(std::chrono::steady_clock::duration timeout) {
    return wxString::Format("Coordinate server: no reply within %g s, connection closed.",
                            std::chrono::duration<double>(timeout).count());
}
} // namespace

coordinate_client::coordinate_client(boost::asio::io_context& events, wxEvtHandler* owner,
                                     session_writer& session, std::string address, std::string port,
                                     std::string side,
                                     std::chrono::steady_clock::duration reply_timeout)
    : resolver_(events), socket_(events), retry_timer_(events), reply_deadline_(events),
      reply_timeout_(reply_timeout), owner_(owner), log_(owner), session_(session),
      address_(std::move(address)), port_(std::move(port)), side_(std::move(side)) {}

void coordinate_client::start() {
    resolve();
}

void coordinate_client::stop() {
    stopped_ = true;
    resolver_.cancel();
    retry_timer_.cancel();
    reply_deadline_.cancel();
    boost::system::error_code ignored;
    socket_.close(ignored);
}

// A completion that was already queued when the client stopped must not start anything new.
bool coordinate_client::shutting_down(const boost::system::error_code& error) const {
    return stopped_ || error == boost::asio::error::operation_aborted;
}

void coordinate_client::after(std::chrono::steady_clock::duration pause,
                              void (coordinate_client::*step)()) {
    retry_timer_.expires_after(pause);
    retry_timer_.async_wait([self = shared_from_this(), step](const boost::system::error_code& e) {
        if (!self->shutting_down(e))
            ((*self).*step)();
    });
}

void coordinate_client::resolve() {
    resolver_.async_resolve(
        address_, port_, tcp::resolver::address_configured,
        [self = shared_from_this()](const boost::system::error_code& error,
                                    const tcp::resolver::results_type& results) {
            self->on_resolved(error, results);
        });
}

void coordinate_client::on_resolved(const boost::system::error_code& error,
                                    const tcp::resolver::results_type& results) {
    if (shutting_down(error))
        return;
    if (error || results.empty()) {
        log_.error("CoordServer resolve error");
        return after(resolve_pause, &coordinate_client::resolve);
    }
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
    if (error)
        return after(reconnect_pause, &coordinate_client::connect);
    log_.info("Connect to coordinate server. Ok.");
    send_request();
}

// A reply is evaluated only once all of its bytes are in, so a short receive can never mix the
// bytes of two replies.
void coordinate_client::send_request() {
    last_request_ = std::chrono::steady_clock::now();
    reply_deadline_.expires_after(reply_timeout_);
    reply_deadline_.async_wait([self = shared_from_this()](const boost::system::error_code& e) {
        self->on_reply_overdue(e);
    });
    boost::asio::async_write(socket_, boost::asio::buffer(request_),
                             [self = shared_from_this()](const boost::system::error_code& error,
                                                         std::size_t) { self->on_sent(error); });
}

void coordinate_client::on_sent(const boost::system::error_code& error) {
    if (shutting_down(error))
        return;
    if (error)
        return lose_connection(error);
    boost::asio::async_read(socket_, boost::asio::buffer(reply_),
                            [self = shared_from_this()](const boost::system::error_code& e,
                                                        std::size_t) { self->on_received(e); });
}

// The deadline may have given this connection up while the completion waited in the queue.
void coordinate_client::on_received(const boost::system::error_code& error) {
    if (shutting_down(error) || !socket_.is_open())
        return;
    if (error)
        return lose_connection(error);
    reply_deadline_.expires_at(std::chrono::steady_clock::time_point::max());
    apply(evaluate_coord_reply(state_, parse_coord_reply(reply_), session_.is_open(), side_));
    send_next_request();
}

void coordinate_client::send_next_request() {
    const auto due = last_request_ + poll_interval;
    if (std::chrono::steady_clock::now() >= due)
        return send_request();
    after(due - std::chrono::steady_clock::now(), &coordinate_client::send_request);
}

void coordinate_client::lose_connection(const boost::system::error_code& error) {
    log_.error(system_text(error));
    reconnect_later();
}

// A deadline re-armed for a later request, or disarmed by a reply, is not due yet; its handler may
// still run when the wait had already completed.
void coordinate_client::on_reply_overdue(const boost::system::error_code& error) {
    if (shutting_down(error) || reply_deadline_.expiry() > std::chrono::steady_clock::now())
        return;
    log_.error(overdue_text(reply_timeout_));
    reconnect_later();
}

// Closing the socket abandons the outstanding send or receive; their handlers see
// operation_aborted and start nothing.
void coordinate_client::reconnect_later() {
    reply_deadline_.expires_at(std::chrono::steady_clock::time_point::max());
    boost::system::error_code ignored;
    socket_.close(ignored);
    after(reconnect_pause, &coordinate_client::connect);
}

void coordinate_client::apply(const coord_action& action) {
    if (action.close_session)
        session_.close();
    if (action.new_session_row)
        post_thread_event(owner_, EVT_THREAD_LOG_INFO, readable_text(*action.new_session_row));
    if (action.metadata)
        write_metadata(*action.metadata);
}

// The engine refuses every write on a handle once one has failed, so the session is closed: the
// next odometer count opens a new one, and the next reply names it.
void coordinate_client::write_metadata(const coord_metadata& metadata) {
    try {
        session_.set_session_code(wide_text(metadata.session_code));
        session_.set_orientation(wide_text(metadata.orientation));
        session_.set_side(wide_text(metadata.side));
    } catch (const std::exception& e) {
        log_.error(readable_text(e.what()));
        session_.close();
    }
}
