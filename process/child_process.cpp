#include "process/child_process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
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
// thread ends, or ended at once when the starting process already has (parent is its pid, taken
// before fork).
[[noreturn]] void become(char* const* argv, char* const* environment, int output, int errors,
                         pid_t parent) {
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent)
        _exit(127);
    dup2(output, STDOUT_FILENO);
    if (errors == child_setup::errors_to_output)
        dup2(output, STDERR_FILENO);
    else if (errors >= 0)
        dup2(errors, STDERR_FILENO);
    execve(argv[0], argv, environment);
    _exit(127);
}

// The NUL-ended pointer array that exec takes, into texts that outlive it.
std::vector<char*> pointers(const std::vector<std::string>& texts) {
    std::vector<char*> array;
    for (const std::string& text : texts)
        array.push_back(const_cast<char*>(text.c_str()));
    array.push_back(nullptr);
    return array;
}

enum class read_result { more, ended, waiting };

// Appends what the descriptor delivers next; waiting when the time is up or a signal came first.
read_result read_more(int from, std::string& to, steady_clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - steady_clock::now());
    pollfd entry{from, POLLIN, 0};
    char bytes[4096];
    if (poll(&entry, 1, static_cast<int>(std::max<long long>(0, left.count()))) <= 0)
        return read_result::waiting;
    const ssize_t got = read(from, bytes, sizeof bytes);
    if (got < 0 && errno == EINTR)
        return read_result::waiting;
    if (got <= 0)
        return read_result::ended;
    to.append(bytes, static_cast<std::size_t>(got));
    return read_result::more;
}
} // namespace

child_process::child_process(const std::vector<std::string>& arguments, child_setup setup) {
    const std::vector<char*> argv = pointers(arguments);
    const std::vector<char*> environment =
        setup.environment ? pointers(*setup.environment) : std::vector<char*>();
    int pipe_ends[2];
    open_pipe(pipe_ends);
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0)
        become(argv.data(), setup.environment ? environment.data() : environ, pipe_ends[1],
               setup.errors, parent);
    close(pipe_ends[1]);
    if (pid_ < 0) {
        close(pipe_ends[0]);
        throw std::runtime_error("fork failed");
    }
    output_ = pipe_ends[0];
}

child_process::child_process(const std::vector<std::string>& arguments, int errors)
    : child_process(arguments, child_setup{errors, std::nullopt}) {}

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
    while (!ended_ && (end = pending_.find('\n')) == std::string::npos) {
        const read_result result = read_more(output_, pending_, deadline);
        if (result == read_result::waiting)
            return std::nullopt;
        ended_ = result == read_result::ended;
    }
    end = pending_.find('\n');
    if (end == std::string::npos && pending_.empty())
        return std::nullopt;
    std::string found = pending_.substr(0, end);
    pending_.erase(0, end == std::string::npos ? end : end + 1);
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
    while (read_more(program.output_, run.out, deadline) == read_result::more ||
           read_more(errors[0], run.err, deadline) == read_result::more) {
    }
    program.signal(SIGKILL); // when it ran out of time; an ended program keeps its status
    const int status = program.wait();
    close(errors[0]);
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string find_program(const std::string& name) {
    if (name.find('/') != std::string::npos)
        return access(name.c_str(), X_OK) == 0 ? name : std::string();
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/bin:/bin";
    for (std::size_t start = 0; start <= folders.size();) {
        std::size_t end = folders.find(':', start);
        end = end == std::string::npos ? folders.size() : end;
        const std::string candidate =
            (end == start ? std::string(".") : folders.substr(start, end - start)) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}
