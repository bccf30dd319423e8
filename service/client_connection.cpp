#include "service/client_connection.h"

#include <algorithm>

#include <boost/asio/error.hpp>

#include "base/encoding.h"
#include "log/thread_events.h"
#include "service/data_service_internal.h"

client_connection::client_connection(boost::asio::ip::tcp::socket socket, data_service& service)
    : socket_(std::move(socket)), service_(service), timer_(socket_.get_executor()),
      reader_(service.options().requests) {}

void client_connection::start() {
    receive();
    advance();
}

// Reading goes on while a request is fetched or answered, so that the reader sees when bytes
// really came; it pauses while the reader is full, and the client's own sends then wait.
void client_connection::receive() {
    const std::size_t room = std::min(received_.size(), reader_.room());
    if (closed_ || receiving_ || input_ended_ || room == 0)
        return;
    receiving_ = true;
    socket_.async_receive(
        boost::asio::buffer(received_.data(), room),
        [self = shared_from_this()](const boost::system::error_code& error, std::size_t size) {
            self->on_received(error, size);
        });
}

void client_connection::on_received(const boost::system::error_code& error, std::size_t size) {
    receiving_ = false;
    if (error == boost::asio::error::operation_aborted || closed_)
        return;
    if (error == boost::asio::error::eof) {
        input_ended_ = true;
        reader_.finish();
    } else if (error) {
        service_.log().error(readable_text(error.message()));
        return end();
    } else {
        reader_.add(received_.data(), size, request_reader::clock::now());
    }
    receive();
    advance();
}

// While awaiting a request: hand the next one to the workers, or end the connection on a bad
// request or after the client's end of stream, or wait for the reader's deadline or the idle time.
void client_connection::advance() {
    if (closed_ || stage_ != stage::awaiting_request)
        return;
    const auto now = request_reader::clock::now();
    if (const std::optional<frame_request> request = reader_.next(now)) {
        stage_ = stage::fetching;
        timer_.cancel();
        service_.fetch(shared_from_this(), *request);
        return receive();
    }
    if (reader_.failed(now)) {
        service_.log().error("Bad request. Size mismatch.");
        return end();
    }
    if (input_ended_) {
        post_thread_event(service_.owner(), EVT_THREAD_LOG_INFO, "Connection closed");
        return end();
    }
    wait_until(reader_.deadline().value_or(now + service_.options().idle_time));
}

void client_connection::wait_until(request_reader::clock::time_point when) {
    timer_.expires_at(when);
    timer_.async_wait([self = shared_from_this()](const boost::system::error_code& error) {
        if (error != boost::asio::error::operation_aborted)
            self->on_timer();
    });
}

// A wait that completed just before the timer was set anew finds a deadline still to come.
void client_connection::on_timer() {
    if (closed_ || timer_.expiry() > request_reader::clock::now())
        return;
    if (stage_ == stage::sending) {
        service_.log().error("A client of the data service took no part of its response in time; "
                             "the connection is closed.");
        boost::system::error_code ignored;
        socket_.set_option(boost::asio::socket_base::linger(true, 0), ignored); // drop the rest
        return end();
    }
    if (stage_ == stage::awaiting_request && reader_.empty()) {
        service_.log().info("A client of the data service sent no request in time; the "
                            "connection is closed.");
        return end();
    }
    advance();
}

void client_connection::respond(std::vector<unsigned char> response) {
    if (closed_)
        return;
    stage_ = stage::sending;
    response_ = std::move(response);
    sent_ = 0;
    send_rest();
}

// Each part the client takes gives it the stalled-send time anew.
void client_connection::send_rest() {
    wait_until(request_reader::clock::now() + service_.options().stalled_send_time);
    socket_.async_write_some(
        boost::asio::buffer(response_.data() + sent_, response_.size() - sent_),
        [self = shared_from_this()](const boost::system::error_code& error, std::size_t size) {
            self->on_sent(error, size);
        });
}

void client_connection::on_sent(const boost::system::error_code& error, std::size_t size) {
    if (error == boost::asio::error::operation_aborted || closed_)
        return;
    if (error) {
        service_.log().error(readable_text(error.message()));
        return end();
    }
    if ((sent_ += size) < response_.size())
        return send_rest();
    std::vector<unsigned char>().swap(response_); // an idle connection keeps no frame
    stage_ = stage::awaiting_request;
    receive();
    advance();
}

void client_connection::close() {
    closed_ = true;
    boost::system::error_code ignored;
    timer_.cancel();
    socket_.close(ignored);
}

void client_connection::end() {
    close();
    service_.forget(this);
}
