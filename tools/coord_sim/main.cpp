// tresvik-coord-sim: a coordinate server for tests and demos of the recorder.

#include <csignal>
#include <iostream>

#include <boost/asio/signal_set.hpp>

#include "tools/common/command_line.h"
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
    tool_app app("tresvik-coord-sim", "A coordinate server for tests: answers each 64-byte request "
                                      "with a 1024-byte reply.");
    app.footer("SIGUSR1 starts a new session; SIGINT or SIGTERM end the server.");
    sim_options options;
    add_sim_options(app, options);
    return run_tool(app, argc, argv, [&] {
        boost::asio::io_context io;
        // Installed before the listening line, so a signal sent after it is never fatal.
        boost::asio::signal_set signals(io, SIGINT, SIGTERM, SIGUSR1);
        coord_sim_server server(io, options);
        wait_for_signal(signals, io, server);
        io.run();
        std::cout << "stopped" << std::endl;
        return 0;
    });
}
