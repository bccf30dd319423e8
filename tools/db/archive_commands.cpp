#include <iomanip>
#include <iostream>
#include <unistd.h>

#include "archive/archiver.h"
#include "recording/session_store.h"
#include "tools/common/command_line.h"
#include "tools/db/archive_commands.h"

namespace {
std::string host_name() {
    char name[256] = {};
    return gethostname(name, sizeof name - 1) == 0 && name[0] ? name : "car";
}

std::string default_rclone_config() {
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/Velmora3/config/rclone.conf";
}

// Lines on standard output for what was done, on standard error for what failed; each line at
// once, as cron and the journal read them.
class printed_events : public archive_events {
public:
    void state_changed(const std::string& session, archive_state state, int percent) override {
        if (state == archive_state::copying && percent == 0)
            std::cout << "copying " << session << std::endl;
    }
    void archived(const std::string& session, std::uint64_t bytes, double rate) override {
        std::cout << "archived " << session << ": " << bytes << " bytes, " << std::fixed
                  << std::setprecision(1) << rate << " MB/s" << std::endl;
    }
    void failed(const std::string& text) override {
        ++failures;
        std::cerr << "tresvik-db: " << text << std::endl;
    }
    void deleted(const std::string&, bool) override {}
    void disk_full(std::uint64_t free_bytes, std::uint64_t wanted_bytes) override {
        std::cerr << "tresvik-db: the disk is full: " << free_bytes << " bytes free, "
                  << wanted_bytes << " wanted, and no session left that may be deleted"
                  << std::endl;
    }

    int failures = 0;
};

int archive(const command_line& line) {
    session_store store(line.path);
    printed_events events;
    archive_options options;
    options.root = line.path;
    options.remote = line.remote;
    options.car = line.car.empty() ? host_name() : line.car;
    options.rclone_config =
        line.rclone_config.empty() ? default_rclone_config() : line.rclone_config;
    archiver engine(options, store, events);
    const archive_outcome outcome = engine.run_once(line.wait);
    if (outcome == archive_outcome::locked) {
        std::cerr << "tresvik-db: another archiver works on " << line.path
                  << " (--wait waits for it)" << std::endl;
        return 1;
    }
    if (!line.once)
        engine.run();
    return outcome == archive_outcome::done && events.failures == 0 ? 0 : 1;
}

int retain(const command_line& line) {
    session_store store(line.path);
    printed_events events;
    retention pass(store, events);
    const retention_result result =
        pass.pass({line.path, *parse_free_space(line.min_free), line.loop, line.dry_run});
    for (const auto& deletion : result.deleted)
        std::cout << (line.dry_run ? "would delete " : "deleted ") << deletion.session
                  << (deletion.archived ? "" : " (not archived)") << '\n';
    std::cout << result.space.free << " bytes free, " << result.wanted << " wanted\n";
    return result.full ? 1 : 0;
}

const char* const archive_usage =
    "copies the closed sessions under ROOT, oldest first, to REMOTE/CAR/<folder> with\n"
    "rclone, and marks each as archived once rclone has checked the copy. Runs on,\n"
    "looking again every 30 s, unless --once. One archiver at a time per ROOT.";
const char* const retain_usage =
    "deletes sessions under ROOT while its volume has less free space than --min-free:\n"
    "the archived ones oldest first, with --loop then the unarchived ones. Sessions in\n"
    "use by any program stay. Exit status 1 when the space is still short.";

// A command on the sessions under ROOT.
CLI::App* add_root_command(CLI::App& app, command_line& line, const std::string& name,
                           const std::string& description) {
    CLI::App* command = add_command(app, line, name, description);
    command->add_option("ROOT", line.path, "the folder that holds the sessions")->required();
    return command;
}
} // namespace

void add_archive_commands(CLI::App& app, command_line& line) {
    CLI::App* copy = add_root_command(app, line, "archive", archive_usage);
    copy->add_option("--remote", line.remote, "rclone remote and path, e.g. depot:fleet")
        ->required();
    copy->add_option("--car", line.car, "the car's folder on the remote (default: host name)");
    copy->add_option("--rclone-config", line.rclone_config,
                     "rclone's configuration file (default ~/Velmora3/config/rclone.conf)");
    copy->add_flag("--once", line.once, "one pass, then exit: 1 when anything failed");
    copy->add_flag("--wait", line.wait, "wait for another archiver of ROOT instead of exiting 1");
    CLI::App* keep = add_root_command(app, line, "retain", retain_usage);
    keep->add_option("--min-free", line.min_free, "free space to keep: 10%, 20G, 512M ...")
        ->required()
        ->check([](const std::string& text) {
            return parse_free_space(text) ? std::string()
                                          : "not a share like 10% or a size like 20G";
        });
    keep->add_flag("--loop", line.loop,
                   "delete unarchived sessions too when nothing archived is left");
    keep->add_flag("--dry-run", line.dry_run, "tell what would be deleted, delete nothing");
}

bool is_archive_command(const std::string& command) {
    return command == "archive" || command == "retain";
}

int run_archive_command(const command_line& line) {
    require_folder(line.path);
    return line.command == "archive" ? archive(line) : retain(line);
}
