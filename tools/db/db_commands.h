#pragma once

// The commands of tresvik-db. Each prints its result on standard output and its warnings on
// standard error, returns the exit status, and throws on failure (main prints the text).

#include <cstdint>
#include <limits>
#include <string>

namespace CLI {
class App;
}

struct command_line {
    std::string command;
    std::string path; // ROOT for list, the session folder for the others
    std::uint32_t dpp = 0;
    std::string output; // OUT.png for frame, OUTDIR for export
    bool json = false;
    std::uint32_t from = 0;
    std::uint32_t to = std::numeric_limits<std::uint32_t>::max();
    std::string format = "png";
    // archive and retain
    std::string remote;
    std::string car;
    std::string rclone_config;
    bool once = false;
    bool wait = false;
    std::string min_free;
    bool loop = false;
    bool dry_run = false;
};

// The commands with their operands and options, read into line by the app's parse
// (tools/common/command_line.h).
void add_db_commands(CLI::App& app, command_line& line);

int run_command(const command_line& line);

// A subcommand that names itself in line.command once parsed.
CLI::App* add_command(CLI::App& app, command_line& line, const std::string& name,
                      const std::string& description);

// Throws when the path is no folder.
void require_folder(const std::string& path);
