#pragma once

#include <array>
#include <memory>
#include <vector>

#include <boost/asio/ip/tcp.hpp>

#include "service/data_protocol.h"

class data_service;

// One client of the data service: a request is received, handed to the service's workers, and
// their response sent, then the next request is received; one response per request, in order.
// Ends on end of stream, on any error, and on a request of the wrong size. Everything here runs
// on the service's event loop; workers come back only through a post to it (respond).
class client_connection : public std::enable_shared_from_this<client_connection> {
public:
    client_connection(boost::asio::ip::tcp::socket socket, data_service& service);

    void start();
    void respond(std::vector<unsigned char> response);
    // Ends the connection without a row; completions still pending see operation_aborted.
    void close();

private:
    void receive();
    void on_received(const boost::system::error_code& error, std::size_t size);
    void on_sent(const boost::system::error_code& error);
    void end();

    boost::asio::ip::tcp::socket socket_;
    data_service& service_;
    std::array<unsigned char, long_request_size> request_{};
    std::vector<unsigned char> response_;
    bool closed_ = false;
};
