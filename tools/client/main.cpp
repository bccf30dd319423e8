// tresvik-client: a client of the recorder's data service and telemetry, for commissioning and
// diagnosis. Fetches one frame as PNG, or asks the telemetry responder for the status.
#include <algorithm>
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

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <opencv2/imgcodecs.hpp>

#include "base/constants.h"
#include "service/data_client.h"
#include "service/data_protocol.h"
#include "service/telemetry_reply.h"
#include "tools/common/command_line.h"

namespace {
using boost::asio::ip::udp;

struct fetch_options {
    std::string host = "127.0.0.1";
    std::uint16_t port = default_data_service_port;
    bool short_form = false;
    std::string first, second, output;
    std::uint32_t dpp = 0;
    double timeout = 10;
    std::vector<unsigned char> request; // made once the command line is read
};

struct status_options {
    std::string host = "127.0.0.1";
    std::uint16_t port = telemetry_port;
    std::string command = "status";
    double timeout = 2;
};

// Whole milliseconds, and no more than a day: the waits are counted in milliseconds.
constexpr double min_timeout = 0.001;
constexpr double max_timeout = 86400;

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
        throw std::runtime_error("no " + waiting_for + " within " + seconds_text(seconds));
}

// The time limit holds for the whole exchange: connecting, sending and the response together.
std::vector<unsigned char> fetch_png(const fetch_options& o) {
    const auto deadline = std::chrono::steady_clock::now() + milliseconds_of(o.timeout);
    const auto left = [&] {
        return std::max(std::chrono::milliseconds(0),
                        std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now()));
    };
    data_client client(o.host, o.port, left());
    client.send(o.request, left());
    const auto response = client.response(left());
    if (!response)
        throw std::runtime_error("no whole response within " + seconds_text(o.timeout) +
                                 ": the connection closed or the time ran out");
    return {response->begin() + response_header_size, response->end()};
}

int fetch(const fetch_options& o) {
    const std::vector<unsigned char> png = fetch_png(o);
    if (png.empty())
        throw std::runtime_error("the service could produce no image (length 0)");
    std::ofstream file(o.output, std::ios::binary);
    file.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    if (!file.flush())
        throw std::runtime_error(o.output + ": cannot write the file");
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
    add_number(*fetch_command, "--port", o.port, 0, 65535, "data service port");
    fetch_command->add_flag("--short", o.short_form,
                            "send the 16-byte request: FIRST and SECOND are numbers\n"
                            "(decimal or 0x hexadecimal)");
    add_number(*fetch_command, "--timeout", o.timeout, min_timeout, max_timeout,
               "seconds to wait for the response");
    fetch_command->add_option("FIRST", o.first, "first part of the session code")->required();
    fetch_command
        ->add_option("SECOND", o.second, "second part; empty (or 0) asks for the live session")
        ->required();
    add_number(*fetch_command, "DPP", o.dpp, 0, UINT32_MAX, "odometer count of the frame")
        ->required();
    fetch_command->add_option("OUT", o.output, "PNG file to write")->required();
    // A --short code that is no number is a fault of the command line.
    fetch_command->callback([&o] { o.request = request_of(o); });
}

void add_status(CLI::App& app, status_options& o) {
    CLI::App* status_command = app.add_subcommand("status", "ask the telemetry responder");
    status_command->add_option("--host", o.host, "telemetry host")->capture_default_str();
    add_number(*status_command, "--port", o.port, 0, 65535, "telemetry port");
    status_command->add_option("--command", o.command, "the query's command attribute")
        ->capture_default_str();
    add_number(*status_command, "--timeout", o.timeout, min_timeout, max_timeout,
               "seconds to wait for the reply");
}
} // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    tool_app app("tresvik-client", "tresvik-client: fetches frames from the recorder's data "
                                   "service and asks its telemetry responder for the status.");
    app.require_subcommand(1);
    fetch_options fetch_settings;
    status_options status_settings;
    add_fetch(app, fetch_settings);
    add_status(app, status_settings);
    return run_tool(app, argc, argv, [&] {
        return app.got_subcommand("fetch") ? fetch(fetch_settings) : status(status_settings);
    });
}
