// tresvik-coord-sim: a coordinate server for tests and demos of the recorder.

#include <csignal>
#include <exception>
#include <iostream>

#include <boost/asio/signal_set.hpp>

#include "tools/coord_sim/coord_sim_server.h"

namespace {
// SIGUSR1 starts a new session; SIGINT and SIGTERM stop the loop, which ends the program.
void wait_for_signal(boost::asio::signal_set& signals, boost::asio::io_context& io,
                     coord_sim_server& server) {
    signals.async_wait([&](auto error, int number) {
        if (error)
            return;
        if (number != SIGUSR1) {
            io.stop();
            return;
        }
        server.change_session();
        wait_for_signal(signals, io, server);
    });
}
} // namespace

int main(int argc, char** argv) {
    try {
        const sim_options options = parse_sim_options({argv + 1, argv + argc});
        if (options.help) {
            std::cout << sim_usage;
            return 0;
        }
        boost::asio::io_context io;
        // Installed before the listening line, so a signal sent after it is never fatal.
        boost::asio::signal_set signals(io, SIGINT, SIGTERM, SIGUSR1);
        coord_sim_server server(io, options);
        wait_for_signal(signals, io, server);
        io.run();
        std::cout << "stopped" << std::endl;
        return 0;
    } catch (const std::exception& error) {
        std::cerr << "tresvik-coord-sim: " << error.what() << std::endl;
        return 1;
    }
}
