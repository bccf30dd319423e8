#include "harness/child_process.h"

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
using std::chrono::steady_clock;

// Close-on-exec, so that no other child holds a write end and keeps a reader from seeing the end.
void open_pipe(int ends[2]) {
    if (pipe2(ends, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
}

// In the child between fork and exec: only async-signal-safe calls. Killed when the starting
// process ends, or ended at once when it already has (parent is its pid, taken before fork).
[[noreturn]] void become(const std::vector<std::string>& arguments, int output, int errors,
                         pid_t parent) {
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent)
        _exit(127);
    dup2(output, STDOUT_FILENO);
    if (errors >= 0)
        dup2(errors, STDERR_FILENO);
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

// Appends what the descriptor delivers next; false at its end or when the time is up.
bool read_more(int from, std::string& to, steady_clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - steady_clock::now());
    pollfd entry{from, POLLIN, 0};
    char bytes[4096];
    ssize_t got = 0;
    if (poll(&entry, 1, static_cast<int>(std::max<long long>(0, left.count()))) <= 0 ||
        (got = read(from, bytes, sizeof bytes)) <= 0)
        return false;
    to.append(bytes, static_cast<std::size_t>(got));
    return true;
}
} // namespace

child_process::child_process(const std::vector<std::string>& arguments, int errors) {
    int pipe_ends[2];
    open_pipe(pipe_ends);
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0)
        become(arguments, pipe_ends[1], errors, parent);
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
    const auto deadline = steady_clock::now() + limit;
    std::size_t end;
    while ((end = pending_.find('\n')) == std::string::npos)
        if (!read_more(output_, pending_, deadline))
            return std::nullopt;
    std::string found = pending_.substr(0, end);
    pending_.erase(0, end + 1);
    return found;
}

std::optional<std::string> child_process::line_after(const std::string& marker) {
    while (const std::optional<std::string> next = line())
        if (const std::size_t at = next->find(marker); at != std::string::npos)
            return next->substr(at + marker.size());
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

// Standard error is read once standard output has ended: the tools write little to it.
program_run run_program(const std::vector<std::string>& arguments) {
    int errors[2];
    open_pipe(errors);
    child_process program(arguments, errors[1]);
    close(errors[1]);
    program_run run;
    const auto deadline = steady_clock::now() + std::chrono::seconds(20);
    while (read_more(program.output_, run.out, deadline) ||
           read_more(errors[0], run.err, deadline)) {
    }
    program.signal(SIGKILL); // when it ran out of time; an ended program keeps its status
    const int status = program.wait();
    close(errors[0]);
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string built_program(const std::string& name) {
    const char* bin = std::getenv("TRESVIK_BIN");
    const std::filesystem::path folder =
        bin ? std::filesystem::path(bin)
            : std::filesystem::read_symlink("/proc/self/exe").parent_path();
    return (folder / name).string();
}

long process_memory_kib(const std::string& pid, const std::string& field) {
    std::ifstream status("/proc/" + pid + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field + ":", 0) == 0)
            return std::stol(line.substr(field.size() + 1));
    return 0;
}
