#include <clocale>
#include <exception>
#include <iostream>

#include "tools/db/db_commands.h"

// Stored texts are in the locale's encoding; the user's locale is the one recordings use.
int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    try {
        return run_command(parse_command_line({argv + 1, argv + argc}));
    } catch (const usage_error& e) {
        std::cerr << "tresvik-db: " << e.what() << "\n\n" << usage_text;
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "tresvik-db: " << e.what() << '\n';
        return 1;
    }
}
