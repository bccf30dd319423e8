#pragma once

// The simulated coordinate server: a TCP acceptor and its connections on one io_context. Every
// member runs on the thread that runs that io_context; nothing here is thread-safe.

#include <cstdint>
#include <random>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include "recording/coordinate_protocol.h"
#include "tools/coord_sim/sim_options.h"

// The session the server announces, advanced by a timer or a signal.
class sim_sessions {
public:
    explicit sim_sessions(const sim_options& options);

    void advance() { ++count_; }
    coord_reply current() const;
    // One line for the console: number and session code.
    std::string describe() const;

private:
    const sim_options& options_;
    std::uint32_t count_;
};

class coord_sim_server {
public:
    // Binds and listens at once; throws the network library's error if that fails. options must
    // outlive the server.
    coord_sim_server(boost::asio::io_context& io, const sim_options& options);

    unsigned short port() const { return acceptor_.local_endpoint().port(); }
    // Starts a new session and prints it.
    void change_session();

    // What the next request gets, counted over all connections.
    enum class answer { full, dropped, cut_short };
    answer next_answer();
    coord_reply_bytes reply_bytes();
    // A length strictly between 0 and a whole reply.
    std::size_t short_length();

    const sim_options& options() const { return options_; }

private:
    void accept();
    void schedule_change();

    const sim_options& options_;
    boost::asio::ip::tcp::acceptor acceptor_;
    boost::asio::steady_timer change_timer_;
    sim_sessions sessions_;
    std::uint64_t requests_ = 0;
    std::uint64_t replies_ = 0;
    std::mt19937 random_{std::random_device{}()};
};
