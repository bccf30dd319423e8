#pragma once
// archive and retain: the archive engine without the GUI, beside the session commands.
#include <string>

#include "tools/db/db_commands.h"

void add_archive_commands(CLI::App& app, command_line& line);
bool is_archive_command(const std::string& command);
int run_archive_command(const command_line& line);
