#include "tools/coord_sim/coord_sim_server.h"

#include <algorithm>
#include <chrono>
#include <iostream>
#include <memory>
#include <vector>

#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

namespace asio = boost::asio;
using asio::ip::tcp;

sim_sessions::sim_sessions(const sim_options& options)
    : options_(options), count_(options.session_start) {}

coord_reply sim_sessions::current() const {
    coord_reply reply;
    reply.orientation = options_.orientation;
    reply.mode = options_.numbered ? 1 : 0;
    reply.text_a = options_.text_a;
    if (options_.numbered) {
        reply.session_number = count_;
        reply.text_b = std::to_string(count_);
    } else if (options_.names.empty()) {
        reply.text_b = "session-" + std::to_string(count_);
    } else {
        reply.text_b = options_.names[(count_ - options_.session_start) % options_.names.size()];
    }
    return reply;
}

std::string sim_sessions::describe() const {
    const coord_reply reply = current();
    return "session number=" + std::to_string(reply.session_number) +
           " code=" + session_code(reply);
}

namespace {
// One client connection; owned by the handlers in flight, so it ends with its last operation.
class sim_connection : public std::enable_shared_from_this<sim_connection> {
public:
    sim_connection(tcp::socket socket, coord_sim_server& server)
        : socket_(std::move(socket)), timer_(socket_.get_executor()), server_(server) {}

    void read_request() {
        asio::async_read(socket_, asio::buffer(request_),
                         [self = shared_from_this()](auto error, std::size_t) {
                             if (!error)
                                 self->on_request();
                         });
    }

private:
    void on_request() {
        if (request_ != coord_request()) {
            std::cout << "unexpected request, closing the connection" << std::endl;
            return;
        }
        if (stalled())
            return read_request();
        timer_.expires_after(std::chrono::milliseconds(server_.options().reply_delay_ms));
        timer_.async_wait([self = shared_from_this()](auto error) {
            if (!error)
                self->answer();
        });
    }

    // Whether this connection has had all its replies; says so once, at the first request left
    // unanswered.
    bool stalled() {
        const unsigned limit = server_.options().stall_after;
        if (limit == 0 || replies_ < limit)
            return false;
        if (!stalled_)
            std::cout << "stalling the connection after " << limit << " replies" << std::endl;
        stalled_ = true;
        return true;
    }

    void answer() {
        const coord_sim_server::answer kind = server_.next_answer();
        if (kind == coord_sim_server::answer::dropped) {
            std::cout << "dropping the connection" << std::endl;
            return;
        }
        ++replies_;
        reply_ = server_.reply_bytes();
        cuts_ = {coord_reply_size};
        if (kind == coord_sim_server::answer::cut_short)
            cuts_ = {server_.short_length()};
        else if (server_.options().split_replies)
            cuts_ = {1, coord_reply_size / 2, coord_reply_size};
        close_after_ = kind == coord_sim_server::answer::cut_short;
        sent_ = 0;
        send_piece(0);
    }

    void send_piece(std::size_t piece) {
        const std::size_t end = cuts_[piece];
        asio::async_write(socket_, asio::buffer(reply_.data() + sent_, end - sent_),
                          [self = shared_from_this(), piece, end](auto error, std::size_t) {
                              if (!error)
                                  self->after_piece(piece, end);
                          });
    }

    void after_piece(std::size_t piece, std::size_t end) {
        sent_ = end;
        if (piece + 1 == cuts_.size()) {
            if (close_after_)
                std::cout << "cut a reply short at " << end << " bytes, closing" << std::endl;
            else
                read_request();
            return;
        }
        timer_.expires_after(std::chrono::milliseconds(20));
        timer_.async_wait([self = shared_from_this(), piece](auto error) {
            if (!error)
                self->send_piece(piece + 1);
        });
    }

    tcp::socket socket_;
    asio::steady_timer timer_;
    coord_sim_server& server_;
    coord_request_bytes request_{};
    coord_reply_bytes reply_{};
    std::vector<std::size_t> cuts_;
    std::size_t sent_ = 0;
    bool close_after_ = false;
    unsigned replies_ = 0; // sent on this connection
    bool stalled_ = false;
};
} // namespace

coord_sim_server::coord_sim_server(asio::io_context& io, const sim_options& options)
    : options_(options),
      acceptor_(io, tcp::endpoint(asio::ip::make_address(options.address), options.port)),
      change_timer_(io), sessions_(options) {
    std::cout << "listening on " << options.address << ":" << port() << std::endl;
    std::cout << sessions_.describe() << std::endl;
    accept();
    if (options.change_every > 0) {
        change_timer_.expires_after(std::chrono::milliseconds(0));
        schedule_change();
    }
}

void coord_sim_server::change_session() {
    sessions_.advance();
    std::cout << sessions_.describe() << std::endl;
}

coord_sim_server::answer coord_sim_server::next_answer() {
    ++requests_;
    if (options_.drop_every != 0 && requests_ % options_.drop_every == 0)
        return answer::dropped;
    ++replies_;
    if (options_.short_every != 0 && replies_ % options_.short_every == 0)
        return answer::cut_short;
    return answer::full;
}

coord_reply_bytes coord_sim_server::reply_bytes() {
    coord_reply_bytes background{};
    if (options_.garbage)
        std::generate(background.begin(), background.end(),
                      [this] { return static_cast<unsigned char>(random_()); });
    return encode_coord_reply(sessions_.current(), background);
}

std::size_t coord_sim_server::short_length() {
    return std::uniform_int_distribution<std::size_t>(1, coord_reply_size - 1)(random_);
}

void coord_sim_server::accept() {
    acceptor_.async_accept([this](auto error, tcp::socket socket) {
        if (error)
            return;
        boost::system::error_code ignored;
        std::cout << "connection from " << socket.remote_endpoint(ignored) << std::endl;
        std::make_shared<sim_connection>(std::move(socket), *this)->read_request();
        accept();
    });
}

void coord_sim_server::schedule_change() {
    const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(options_.change_every));
    change_timer_.expires_at(change_timer_.expiry() + period);
    change_timer_.async_wait([this](auto error) {
        if (error)
            return;
        change_session();
        schedule_change();
    });
}
