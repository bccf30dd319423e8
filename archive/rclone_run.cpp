#include "archive/rclone_run.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

#include "archive/archive_rules.h"
#include "process/child_process.h"

namespace {
constexpr std::string_view ca_bundle_variable = "AWS_CA_BUNDLE=";

// rclone 1.60 fails every S3 remote when AWS_CA_BUNDLE is set ("LoadCustomCABundleError"), so the
// child does without it and gets the same trust as --ca-cert.
child_setup child_environment(std::vector<std::string>& arguments) {
    child_setup setup{child_setup::errors_to_output, std::vector<std::string>()};
    for (char** entry = environ; *entry; ++entry) {
        const std::string_view variable(*entry);
        if (variable.substr(0, ca_bundle_variable.size()) != ca_bundle_variable)
            setup.environment->emplace_back(variable);
        else if (variable.size() > ca_bundle_variable.size())
            arguments.insert(
                arguments.end(),
                {"--ca-cert", std::string(variable.substr(ca_bundle_variable.size()))});
    }
    return setup;
}

// The engine retries a failed copy itself, calmly, so rclone tries the whole copy once and a
// request a few times.
std::vector<std::string> common_arguments(const rclone_setup& setup) {
    return {setup.program, "--config", setup.config,          "--use-json-log",
            "--retries",   "1",        "--low-level-retries", "3"};
}

std::string exit_text(int status) {
    if (WIFEXITED(status))
        return WEXITSTATUS(status) == 127
                   ? "rclone could not be started"
                   : "rclone ended with status " + std::to_string(WEXITSTATUS(status));
    return "rclone was ended by signal " + std::to_string(WTERMSIG(status));
}

rclone_result run(const rclone_setup& setup, std::vector<std::string> arguments,
                  const std::function<void(int)>& percent, const std::atomic<bool>& stopping) {
    const std::string program = find_program(setup.program);
    if (program.empty())
        return {false, false,
                "rclone is not installed: no program " + setup.program +
                    " to run (Debian package rclone)"};
    arguments[0] = program;
    const child_setup environment = child_environment(arguments);
    child_process rclone(arguments, environment);
    std::string error;
    while (!rclone.ended()) {
        if (stopping) {
            rclone.signal(SIGKILL);
            rclone.wait();
            return {false, true, {}};
        }
        const std::optional<std::string> line = rclone.line(std::chrono::milliseconds(200));
        if (!line)
            continue;
        const rclone_line read = read_rclone_line(*line);
        if (read.percent && percent)
            percent(*read.percent);
        if (!read.error.empty())
            error = read.error;
        else if (!read.cause.empty() && !error.empty())
            error += " (" + read.cause + ")";
    }
    const int status = rclone.wait();
    const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return {ok, false, ok ? std::string() : error.empty() ? exit_text(status) : error};
}
} // namespace

rclone_result rclone_sync(const rclone_setup& setup, const std::string& folder,
                          const std::string& destination,
                          const std::function<void(int percent)>& percent,
                          const std::atomic<bool>& stopping) {
    std::vector<std::string> arguments = common_arguments(setup);
    arguments.insert(arguments.end(), {"sync", folder, destination, "--stats",
                                       std::to_string(setup.statistics_interval.count()) + "ms",
                                       "--stats-log-level", "NOTICE"});
    if (!setup.bandwidth_limit.empty())
        arguments.insert(arguments.end(), {"--bwlimit", setup.bandwidth_limit});
    return run(setup, std::move(arguments), percent, stopping);
}

rclone_result rclone_check(const rclone_setup& setup, const std::string& folder,
                           const std::string& destination, const std::atomic<bool>& stopping) {
    std::vector<std::string> arguments = common_arguments(setup);
    arguments.insert(arguments.end(), {"check", folder, destination, "--one-way", "--size-only"});
    return run(setup, std::move(arguments), {}, stopping);
}
