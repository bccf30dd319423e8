#include <clocale>
#include <exception>
#include <iostream>
#include <optional>

#include "tools/common/command_line.h"
#include "tools/db/db_commands.h"

// Stored texts are in the locale's encoding; the user's locale is the one recordings use.
int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    tool_app app("tresvik-db", "The recorded sessions without the GUI.");
    command_line line;
    add_db_commands(app, line);
    // Set after the commands are added, which would take it over for their own usage.
    app.footer("tresvik-db COMMAND --help: the operands and options of a command.");
    if (const std::optional<int> status = parse_or_exit_status(app, argc, argv))
        return *status;
    try {
        return run_command(line);
    } catch (const std::exception& e) {
        std::cerr << "tresvik-db: " << e.what() << '\n';
        return 1;
    }
}
