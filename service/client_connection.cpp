#include "service/client_connection.h"

#include <boost/asio/error.hpp>
#include <boost/asio/write.hpp>

#include "log/thread_events.h"
#include "service/data_service_internal.h"

client_connection::client_connection(boost::asio::ip::tcp::socket socket, data_service& service)
    : socket_(std::move(socket)), service_(service) {}

void client_connection::start() {
    receive();
}

void client_connection::receive() {
    socket_.async_receive(
        boost::asio::buffer(request_),
        [self = shared_from_this()](const boost::system::error_code& error, std::size_t size) {
            self->on_received(error, size);
        });
}

void client_connection::on_received(const boost::system::error_code& error, std::size_t size) {
    if (error == boost::asio::error::operation_aborted || closed_)
        return;
    if (error) {
        if (error == boost::asio::error::eof)
            post_thread_event(service_.owner(), EVT_THREAD_LOG_INFO, "Connection closed");
        else
            post_thread_event(service_.owner(), EVT_THREAD_LOG_ERROR,
                              from_locale_text(error.message()));
        return end();
    }
    const std::optional<frame_request> request = parse_frame_request(request_.data(), size);
    if (!request) {
        post_thread_event(service_.owner(), EVT_THREAD_LOG_ERROR, "Bad request. Size mismatch.");
        return end();
    }
    service_.fetch(shared_from_this(), *request);
}

void client_connection::respond(std::vector<unsigned char> response) {
    if (closed_)
        return;
    response_ = std::move(response);
    boost::asio::async_write(socket_, boost::asio::buffer(response_),
                             [self = shared_from_this()](const boost::system::error_code& error,
                                                         std::size_t) { self->on_sent(error); });
}

void client_connection::on_sent(const boost::system::error_code& error) {
    if (error == boost::asio::error::operation_aborted || closed_)
        return;
    if (error) {
        post_thread_event(service_.owner(), EVT_THREAD_LOG_ERROR,
                          from_locale_text(error.message()));
        return end();
    }
    receive();
}

void client_connection::close() {
    closed_ = true;
    boost::system::error_code ignored;
    socket_.close(ignored);
}

void client_connection::end() {
    close();
    service_.forget(this);
}
