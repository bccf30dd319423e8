#include "service/data_client.h"

#include <array>
#include <functional>
#include <stdexcept>

#include <boost/asio/connect.hpp>
#include <boost/asio/write.hpp>
#include <boost/system/system_error.hpp>

#include "service/data_protocol.h"

using boost::asio::ip::tcp;

data_client::data_client(const std::string& host, std::uint16_t port,
                         std::chrono::milliseconds limit)
    : socket_(events_) {
    boost::system::error_code error;
    const auto endpoints = tcp::resolver(events_).resolve(host, std::to_string(port), error);
    if (!error) {
        error = boost::asio::error::timed_out;
        boost::asio::async_connect(socket_, endpoints, [&](auto e, const auto&) {
            if (e != boost::asio::error::operation_aborted) // cancelled when the time ran out
                error = e;
        });
        run(limit);
    }
    if (error)
        throw std::runtime_error("nothing listens at " + host + ":" + std::to_string(port) + ": " +
                                 error.message());
}

void data_client::send(const std::vector<unsigned char>& bytes, std::chrono::milliseconds limit) {
    boost::system::error_code error = boost::asio::error::timed_out;
    boost::asio::async_write(socket_, boost::asio::buffer(bytes),
                             [&](auto e, std::size_t) { error = e; });
    run(limit);
    if (error)
        throw boost::system::system_error(error, "send");
}

// Read in parts, each no larger than what is still missing, so that the bytes of a next response
// stay in the socket.
std::optional<std::vector<unsigned char>> data_client::response(std::chrono::milliseconds limit) {
    std::array<unsigned char, 1 << 16> part;
    std::vector<unsigned char> bytes;
    std::size_t wanted = response_header_size;
    std::uint32_t length = 0;
    bool header_read = false, broken = false;
    std::function<void()> read_more = [&] {
        socket_.async_read_some(
            boost::asio::buffer(part.data(), std::min(part.size(), wanted - bytes.size())),
            [&](const boost::system::error_code& error, std::size_t size) {
                bytes.insert(bytes.end(), part.data(), part.data() + size);
                if (error)
                    return void(broken = true);
                if (!header_read && bytes.size() == wanted) {
                    header_read = true;
                    length = announced_length(bytes.data());
                    if (length > max_response_length)
                        return void(broken = true);
                    wanted += length;
                }
                if (bytes.size() < wanted)
                    read_more();
            });
    };
    read_more();
    run(limit);
    if (length > max_response_length)
        throw std::runtime_error("the service announced " + std::to_string(length) +
                                 " bytes, more than any frame takes (" +
                                 std::to_string(max_response_length) + ")");
    return !broken && bytes.size() == wanted ? std::optional(std::move(bytes)) : std::nullopt;
}

bool data_client::closed_without_reply(std::chrono::milliseconds limit) {
    unsigned char byte = 0;
    boost::system::error_code result = boost::asio::error::timed_out;
    socket_.async_receive(boost::asio::buffer(&byte, 1),
                          [&](auto error, std::size_t) { result = error; });
    run(limit);
    return result == boost::asio::error::eof || result == boost::asio::error::connection_reset;
}

void data_client::run(std::chrono::milliseconds limit) {
    events_.restart();
    events_.run_for(limit);
    if (!events_.stopped())
        close();
}

void data_client::close() {
    boost::system::error_code ignored;
    socket_.close(ignored);
    events_.restart();
    events_.poll();
}
