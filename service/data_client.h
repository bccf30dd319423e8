#pragma once

// A client of the data service, for the client tool, the tests and the benchmark: blocking calls
// with a time limit, so that a service that does not answer is reported instead of waited for.
// A response is believed only up to max_response_length, and memory grows with the bytes that
// arrive, not with the length announced. One thread at a time.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

class data_client {
public:
    // Connects within the limit. Throws std::runtime_error saying that nothing listens there, with
    // the system's reason (a refusal, or the time that ran out). The host is looked up by the
    // system's resolver first, within that resolver's own time.
    data_client(const std::string& host, std::uint16_t port,
                std::chrono::milliseconds limit = std::chrono::seconds(10));
    explicit data_client(std::uint16_t port) : data_client("127.0.0.1", port) {}

    // Throws boost::system::system_error when the bytes cannot all be sent within the limit.
    void send(const std::vector<unsigned char>& bytes,
              std::chrono::milliseconds limit = std::chrono::seconds(10));
    // The whole response (header and image), or nothing when the connection closed first or the
    // time ran out. Throws std::runtime_error when the header announces more than
    // max_response_length.
    std::optional<std::vector<unsigned char>>
    response(std::chrono::milliseconds limit = std::chrono::seconds(10));
    // True when the service closed the connection without sending anything.
    bool closed_without_reply(std::chrono::milliseconds limit = std::chrono::seconds(5));
    void close();

private:
    // Runs what was started until it is done or the time is up; then cancels what is left, whose
    // handlers run before this returns, so that none outlives the caller's frame.
    void run(std::chrono::milliseconds limit);

    boost::asio::io_context events_;
    boost::asio::ip::tcp::socket socket_;
};
