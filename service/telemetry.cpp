#include "service/telemetry.h"

#include <array>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/system/system_error.hpp>

#include "base/encoding.h"
#include "log/thread_events.h"
#include "recording/session_store.h"
#include "service/telemetry_reply.h"

namespace {
using boost::asio::ip::udp;
constexpr std::size_t query_capacity = 4096;

// The kernel hands a datagram longer than the buffer over cut, without an error; asking with
// MSG_TRUNC makes it tell the datagram's real length instead.
constexpr boost::asio::socket_base::message_flags real_length_flag =
#ifdef MSG_TRUNC
    MSG_TRUNC;
#else
    0;
#endif
} // namespace

// The socket and its event loop. Only the loop's thread touches the socket and the limited log
// after construction; error rows go through that log, so that a flood of bad datagrams or a
// sender that is gone writes one row a minute.
class telemetry_responder {
public:
    telemetry_responder(wxEvtHandler* owner, session_store& sessions, const wxString& side,
                        std::uint16_t port)
        : side_(side), sessions_(sessions), socket_(events_), log_(owner) {
        bind(port);
        port_ = socket_.local_endpoint().port();
    }

    void run() {
        receive();
        events_.run();
    }
    void stop() { events_.stop(); }
    std::uint16_t port() const { return port_; }

private:
    void bind(std::uint16_t port) {
        boost::system::error_code error;
        socket_.open(udp::v4(), error);
        if (error)
            throw boost::system::system_error(error, "open");
        socket_.bind(udp::endpoint(udp::v4(), port), error);
        if (error)
            throw boost::system::system_error(error, "bind");
    }

    void receive() {
        socket_.async_receive_from(boost::asio::buffer(query_), sender_, real_length_flag,
                                   [this](const boost::system::error_code& error,
                                          std::size_t size) { on_received(error, size); });
    }

    void on_received(const boost::system::error_code& error, std::size_t size) {
        if (error == boost::asio::error::operation_aborted)
            return;
        if (error)
            log_.error(readable_text(error.message()));
        else if (size > query_.size())
            log_.error(readable_text(
                boost::system::error_code(boost::asio::error::message_size).message()));
        else
            answer(size);
        receive();
    }

    // The reply lives until its send has completed; the next query is read meanwhile.
    void answer(std::size_t size) {
        const std::optional<std::string> reply =
            telemetry_reply(reinterpret_cast<const char*>(query_.data()), size, side_,
                            sessions_.current_session().is_open());
        if (!reply)
            return;
        auto bytes = std::make_shared<std::string>(*reply);
        socket_.async_send_to(boost::asio::buffer(*bytes), sender_,
                              [this, bytes](const boost::system::error_code& error, std::size_t) {
                                  if (error && error != boost::asio::error::operation_aborted)
                                      log_.error(readable_text(error.message()));
                              });
    }

    const wxString side_;
    session_store& sessions_;
    boost::asio::io_context events_;
    udp::socket socket_;
    udp::endpoint sender_;
    std::uint16_t port_ = 0;
    limited_log log_;
    std::array<unsigned char, query_capacity> query_{};
};

telemetry_thread::telemetry_thread(wxEvtHandler* owner, session_store& sessions,
                                   const wxString& side, std::uint16_t port)
    : wxThread(wxTHREAD_JOINABLE),
      responder_(std::make_unique<telemetry_responder>(owner, sessions, side.Clone(), port)) {}

telemetry_thread::~telemetry_thread() = default;

void telemetry_thread::stop() {
    responder_->stop();
}

std::uint16_t telemetry_thread::port() const {
    return responder_->port();
}

wxThread::ExitCode telemetry_thread::Entry() {
    wxThread::SetNameForCurrent("telemetry");
    responder_->run();
    return nullptr;
}
