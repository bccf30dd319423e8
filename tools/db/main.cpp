#include <clocale>

#include "tools/common/command_line.h"
#include "tools/db/archive_commands.h"

// Stored texts are in the locale's encoding; the user's locale is the one recordings use.
int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    tool_app app("tresvik-db", "The recorded sessions without the GUI.");
    command_line line;
    add_db_commands(app, line);
    add_archive_commands(app, line);
    // Set after the commands are added, which would take it over for their own usage.
    app.footer("tresvik-db COMMAND --help: the operands and options of a command.");
    return run_tool(app, argc, argv, [&] {
        return is_archive_command(line.command) ? run_archive_command(line) : run_command(line);
    });
}
