#include "service/data_client.h"

#include <stdexcept>

#include <boost/asio/connect.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include "service/data_protocol.h"

using boost::asio::ip::tcp;

data_client::data_client(const std::string& host, std::uint16_t port) : socket_(events_) {
    boost::system::error_code error;
    boost::asio::connect(socket_, tcp::resolver(events_).resolve(host, std::to_string(port), error),
                         error);
    if (error)
        throw std::runtime_error("nothing listens at " + host + ":" + std::to_string(port) + ": " +
                                 error.message());
}

void data_client::send(const std::vector<unsigned char>& bytes) {
    boost::asio::write(socket_, boost::asio::buffer(bytes));
}

std::optional<std::vector<unsigned char>> data_client::response(std::chrono::milliseconds limit) {
    std::vector<unsigned char> bytes(response_header_size);
    bool whole = false;
    boost::asio::async_read(socket_, boost::asio::buffer(bytes), [&](auto error, std::size_t) {
        if (error)
            return;
        const std::uint32_t length = announced_length(bytes.data());
        bytes.resize(response_header_size + length);
        boost::asio::async_read(socket_,
                                boost::asio::buffer(bytes.data() + response_header_size, length),
                                [&](auto e, std::size_t) { whole = !e; });
    });
    events_.restart();
    events_.run_for(limit);
    if (!events_.stopped())
        close();
    return whole ? std::optional(bytes) : std::nullopt;
}

bool data_client::closed_without_reply(std::chrono::milliseconds limit) {
    unsigned char byte = 0;
    boost::system::error_code result = boost::asio::error::timed_out;
    socket_.async_receive(boost::asio::buffer(&byte, 1),
                          [&](auto error, std::size_t) { result = error; });
    events_.restart();
    events_.run_for(limit);
    return result == boost::asio::error::eof || result == boost::asio::error::connection_reset;
}

void data_client::close() {
    boost::system::error_code ignored;
    socket_.close(ignored);
    events_.poll();
}
