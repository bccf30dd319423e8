#pragma once

#include <array>
#include <memory>
#include <vector>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include "service/data_protocol.h"

class data_service;

// One client of the data service. Bytes are read as they come into a request_reader, which cuts
// them into requests; requests are answered in order, one at a time: a connection has at most one
// request with the workers and one response in flight, so one client's pipeline cannot starve the
// others and its memory stays bounded. Ends on end of stream (once what came before is answered),
// on any error, on a bad request, after the service's idle time without a request byte, and when
// the client takes no byte of its response for the stalled-send time. Everything here runs on the
// service's event loop; workers come back only through a post to it (respond).
class client_connection : public std::enable_shared_from_this<client_connection> {
public:
    client_connection(boost::asio::ip::tcp::socket socket, data_service& service);

    void start();
    void respond(std::vector<unsigned char> response);
    // Ends the connection without a row; completions still pending see operation_aborted.
    void close();

private:
    enum class stage { awaiting_request, fetching, sending };

    void receive();
    void on_received(const boost::system::error_code& error, std::size_t size);
    void advance();
    void wait_until(request_reader::clock::time_point when);
    void on_timer();
    void send_rest();
    void on_sent(const boost::system::error_code& error, std::size_t size);
    void end();

    boost::asio::ip::tcp::socket socket_;
    data_service& service_;
    boost::asio::steady_timer timer_; // the next deadline of the current stage
    request_reader reader_;
    // Room for all the reader takes, so that a receive sees every byte that has come: 1025 bytes
    // in one piece are no long request followed by a stray byte.
    std::array<unsigned char, request_reader::capacity> received_;
    std::vector<unsigned char> response_;
    std::size_t sent_ = 0;
    stage stage_ = stage::awaiting_request;
    bool receiving_ = false;
    bool input_ended_ = false;
    bool closed_ = false;
};
