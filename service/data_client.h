#pragma once

// A client of the data service, for the client tool, the tests and the benchmark: blocking calls
// with a time limit, so that a service that does not answer is reported instead of waited for.
// One thread at a time.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

class data_client {
public:
    // Throws std::runtime_error saying that nothing listens there, with the system's reason.
    data_client(const std::string& host, std::uint16_t port);
    explicit data_client(std::uint16_t port) : data_client("127.0.0.1", port) {}

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
