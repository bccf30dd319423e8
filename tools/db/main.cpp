#include <algorithm>
#include <clocale>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "tools/db/db_commands.h"

// Stored texts are in the locale's encoding; the user's locale is the one recordings use.
int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (std::find(arguments.begin(), arguments.end(), "--help") != arguments.end()) {
        std::cout << usage_text;
        return 0;
    }
    try {
        return run_command(parse_command_line(arguments));
    } catch (const usage_error& e) {
        std::cerr << "tresvik-db: " << e.what() << "\n\n" << usage_text;
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "tresvik-db: " << e.what() << '\n';
        return 1;
    }
}
