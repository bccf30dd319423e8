#pragma once

// Programs run as children: the archive's transport, and the simulators and tools that the tests
// and the benchmarks start. Each object is used on one thread.

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// A program run to its end: its exit code (-1 when a signal ended it) and both outputs.
struct program_run {
    int exit_code = -1;
    std::string out;
    std::string err;
};

// Runs the program; one still running after 20 s (a simulator that took a bad option would run
// on) is killed.
program_run run_program(const std::vector<std::string>& arguments);

// The program's path: a name with a slash as it is, else the first executable of that name in
// PATH; empty when there is no such executable.
std::string find_program(const std::string& name);

// How a child is started besides its arguments.
struct child_setup {
    // Takes the child's standard error; keep_errors leaves the parent's, errors_to_output joins
    // it to the output read by line().
    static constexpr int keep_errors = -1;
    static constexpr int errors_to_output = -2;
    int errors = keep_errors;
    // "NAME=value" entries that replace the parent's environment; nothing: the parent's.
    std::optional<std::vector<std::string>> environment;
};

// A started program whose standard output comes through a pipe, line by line. It is killed and
// reaped when the object goes, and the kernel kills it when the starting thread ends, so no child
// is ever left behind a program that died, holding a terminal or ctest's output. The thread that
// made it must outlive it (the kernel's parent-death signal follows the forking thread).
class child_process {
public:
    // arguments[0] is the program's path; one that cannot be run ends the child with status 127.
    explicit child_process(const std::vector<std::string>& arguments, child_setup setup = {});
    // errors, when not keep_errors, takes its standard error.
    child_process(const std::vector<std::string>& arguments, int errors);
    ~child_process();
    child_process(const child_process&) = delete;
    child_process& operator=(const child_process&) = delete;

    // The next line of output without its newline; nothing at the end of the output, when the
    // time runs out or when a signal interrupts the wait (ended() tells the end apart).
    std::optional<std::string> line(std::chrono::milliseconds limit = std::chrono::seconds(10));
    // What follows the marker in the first line holding it (other lines are passed over).
    std::optional<std::string> line_after(const std::string& marker);
    // The output has ended: the program closed it or is gone. What was left without a newline is
    // given by line() as the last line.
    bool ended() const { return ended_ && pending_.empty(); }
    void signal(int number);
    // The status waitpid gives once the program has ended.
    int wait();
    pid_t pid() const { return pid_; }

private:
    friend program_run run_program(const std::vector<std::string>& arguments);

    pid_t pid_ = -1;
    int output_ = -1;
    bool ended_ = false;
    std::string pending_;
};
