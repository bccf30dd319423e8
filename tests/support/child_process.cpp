#include "tests/support/child_process.h"

#include <csignal>
#include <filesystem>
#include <poll.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
// In the child between fork and exec: only async-signal-safe calls.
[[noreturn]] void become(const std::vector<std::string>& arguments, int output, pid_t parent) {
    die_with_parent(parent);
    dup2(output, STDOUT_FILENO);
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}
} // namespace

child_process::child_process(std::vector<std::string> arguments) {
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0)
        throw std::runtime_error("pipe failed");
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0)
        become(arguments, pipe_ends[1], parent);
    close(pipe_ends[1]);
    output_ = pipe_ends[0];
}

child_process::~child_process() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    close(output_);
}

std::optional<std::string> child_process::line(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (std::size_t end; (end = pending_.find('\n')) == std::string::npos;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd entry{output_, POLLIN, 0};
        char bytes[512];
        ssize_t got = 0;
        if (left.count() <= 0 || poll(&entry, 1, static_cast<int>(left.count())) <= 0 ||
            (got = read(output_, bytes, sizeof bytes)) <= 0)
            return std::nullopt;
        pending_.append(bytes, static_cast<std::size_t>(got));
    }
    const std::size_t end = pending_.find('\n');
    std::string found = pending_.substr(0, end);
    pending_.erase(0, end + 1);
    return found;
}

std::optional<std::string> child_process::line_after(const std::string& prefix) {
    while (const std::optional<std::string> next = line())
        if (next->rfind(prefix, 0) == 0)
            return next->substr(prefix.size());
    return std::nullopt;
}

void child_process::signal(int number) {
    kill(pid_, number);
}

int child_process::wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
}

void die_with_parent(pid_t parent) {
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent)
        _exit(127);
}

std::string built_program(const std::string& name) {
    const char* bin = std::getenv("TRESVIK_BIN");
    const std::filesystem::path folder =
        bin ? std::filesystem::path(bin)
            : std::filesystem::read_symlink("/proc/self/exe").parent_path();
    return (folder / name).string();
}
