#pragma once

// A client of the data service for tests: blocking calls with a time limit, so that a service
// that does not answer fails the test instead of hanging it.

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

class service_client {
public:
    explicit service_client(std::uint16_t port);

    void send(const std::vector<unsigned char>& bytes);
    // The whole response (header and image), or nothing when the connection closed first or the
    // time ran out.
    std::optional<std::vector<unsigned char>>
    response(std::chrono::milliseconds limit = std::chrono::seconds(10));
    // True when the service closed the connection without sending anything.
    bool closed_without_reply(std::chrono::milliseconds limit = std::chrono::seconds(5));
    void close();

private:
    boost::asio::io_context events_;
    boost::asio::ip::tcp::socket socket_;
};
