// tresvik-client: a client of the recorder's data service and telemetry, for commissioning and
// diagnosis. Fetches one frame as PNG, or asks the telemetry responder for the status.
#include <chrono>
#include <clocale>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <opencv2/imgcodecs.hpp>

#include "service/data_client.h"
#include "service/data_protocol.h"
#include "service/telemetry_reply.h"

namespace {
using boost::asio::ip::udp;

struct fetch_options {
    std::string host = "127.0.0.1";
    std::uint16_t port = 12600;
    bool short_form = false;
    std::string first, second, output;
    std::uint32_t dpp = 0;
    double timeout = 10;
};

struct status_options {
    std::string host = "127.0.0.1";
    std::uint16_t port = 50000;
    std::string command = "status";
    double timeout = 2;
};

// What the operator is told before exit status 1.
struct client_failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::chrono::milliseconds milliseconds_of(double seconds) {
    return std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
}

// Decimal, or hexadecimal after "0x".
std::uint64_t code_number(const std::string& text, std::uint64_t largest) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    const char* allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
    if (digits.empty() || digits.find_first_not_of(allowed) != std::string::npos)
        throw CLI::ValidationError("--short", "not a number: " + text);
    const std::uint64_t value = std::stoull(digits, nullptr, hex ? 16 : 10);
    if (value > largest)
        throw CLI::ValidationError("--short", "too large: " + text);
    return value;
}

std::vector<unsigned char> request_of(const fetch_options& o) {
    if (!o.short_form)
        return long_request(o.first, o.second, o.dpp);
    const auto bytes =
        short_request(code_number(o.first, UINT64_MAX),
                      static_cast<std::uint32_t>(code_number(o.second, UINT32_MAX)), o.dpp);
    return {bytes.begin(), bytes.end()};
}

std::string seconds_text(double seconds) {
    std::ostringstream text;
    text << seconds << " s";
    return text.str();
}

// Runs the event loop until the operations finish or the time is up.
void run_for(boost::asio::io_context& events, double seconds, const std::string& waiting_for) {
    events.run_for(milliseconds_of(seconds));
    if (!events.stopped())
        throw client_failure("no " + waiting_for + " within " + seconds_text(seconds));
}

std::vector<unsigned char> exchange(const fetch_options& o) {
    const std::vector<unsigned char> request = request_of(o); // a bad number is told first
    data_client client(o.host, o.port);
    client.send(request);
    const auto response = client.response(
        std::chrono::duration_cast<std::chrono::milliseconds>(milliseconds_of(o.timeout)));
    if (!response)
        throw client_failure("no whole response within " + seconds_text(o.timeout) +
                             ": the connection closed or the time ran out");
    return {response->begin() + response_header_size, response->end()};
}

int fetch(const fetch_options& o) {
    const std::vector<unsigned char> png = exchange(o);
    if (png.empty())
        throw client_failure("the service could produce no image (length 0)");
    std::ofstream(o.output, std::ios::binary)
        .write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    const cv::Mat image = cv::imdecode(png, cv::IMREAD_UNCHANGED);
    std::cout << o.output << ": " << png.size() << " bytes, " << image.cols << " x " << image.rows
              << ", " << image.channels() << " channel(s)\n";
    return 0;
}

int status(const status_options& o) {
    boost::asio::io_context events;
    udp::socket socket(events, udp::endpoint(udp::v4(), 0));
    const udp::endpoint server(
        *udp::resolver(events).resolve(udp::v4(), o.host, std::to_string(o.port)).begin());
    socket.send_to(boost::asio::buffer(telemetry_query(wxString::FromUTF8(o.command))), server);
    std::vector<char> reply(65536);
    std::size_t size = 0;
    udp::endpoint sender;
    socket.async_receive_from(boost::asio::buffer(reply), sender,
                              [&](auto e, std::size_t n) { size = e ? 0 : n; });
    run_for(events, o.timeout, "reply from " + o.host + ":" + std::to_string(o.port));
    std::cout << std::string(reply.data(), size) << (size && reply[size - 1] == '\n' ? "" : "\n");
    return 0;
}

void add_fetch(CLI::App& app, fetch_options& o) {
    CLI::App* fetch_command = app.add_subcommand("fetch", "fetch one frame and save it as PNG");
    fetch_command->add_option("--host", o.host, "data service host")->capture_default_str();
    fetch_command->add_option("--port", o.port, "data service port")->capture_default_str();
    fetch_command->add_flag("--short", o.short_form,
                            "send the 16-byte request: FIRST and SECOND are numbers (decimal or 0x "
                            "hexadecimal)");
    fetch_command->add_option("--timeout", o.timeout, "seconds to wait for the response")
        ->capture_default_str()
        ->check(CLI::PositiveNumber);
    fetch_command->add_option("FIRST", o.first, "first part of the session code")->required();
    fetch_command
        ->add_option("SECOND", o.second, "second part; empty (or 0) asks for the live session")
        ->required();
    fetch_command->add_option("DPP", o.dpp, "odometer count of the frame")->required();
    fetch_command->add_option("OUT", o.output, "PNG file to write")->required();
}

void add_status(CLI::App& app, status_options& o) {
    CLI::App* status_command = app.add_subcommand("status", "ask the telemetry responder");
    status_command->add_option("--host", o.host, "telemetry host")->capture_default_str();
    status_command->add_option("--port", o.port, "telemetry port")->capture_default_str();
    status_command->add_option("--command", o.command, "the query's command attribute")
        ->capture_default_str();
    status_command->add_option("--timeout", o.timeout, "seconds to wait for the reply")
        ->capture_default_str()
        ->check(CLI::PositiveNumber);
}
} // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    CLI::App app("tresvik-client: fetches frames from the recorder's data service and asks its "
                 "telemetry responder for the status.",
                 "tresvik-client");
    app.require_subcommand(1);
    fetch_options fetch_settings;
    status_options status_settings;
    add_fetch(app, fetch_settings);
    add_status(app, status_settings);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int shown = app.exit(e); // help and its kind exit 0, a bad command line 2
        return shown == 0 ? 0 : 2;
    }
    try {
        if (app.got_subcommand("fetch"))
            return fetch(fetch_settings);
        return status(status_settings);
    } catch (const CLI::Error& e) {
        app.exit(e);
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "tresvik-client: " << e.what() << '\n';
        return 1;
    }
}
