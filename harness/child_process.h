#pragma once

// Child programs for the benchmarks and the tests: the simulators, the tools, a helper to kill.
// Everything here runs on the thread that made the object.

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

// A started program whose standard output comes through a pipe, line by line. It is killed and
// reaped when the object goes, and the kernel kills it when the starting process dies, so no
// child is ever left holding a terminal or ctest's output. The thread that made it must outlive it
// (the kernel's parent-death signal follows the forking thread).
class child_process {
public:
    // arguments[0] is the program's path; errors, when given, takes its standard error.
    explicit child_process(const std::vector<std::string>& arguments, int errors = -1);
    ~child_process();
    child_process(const child_process&) = delete;
    child_process& operator=(const child_process&) = delete;

    // The next line of output without its newline; nothing at the end of the output, when the
    // time runs out or when a signal interrupts the wait.
    std::optional<std::string> line(std::chrono::milliseconds limit = std::chrono::seconds(10));
    // What follows the marker in the first line holding it (other lines are passed over).
    std::optional<std::string> line_after(const std::string& marker);
    void signal(int number);
    // The status waitpid gives once the program has ended.
    int wait();
    pid_t pid() const { return pid_; }

private:
    friend program_run run_program(const std::vector<std::string>& arguments);

    pid_t pid_ = -1;
    int output_ = -1;
    std::string pending_;
};

// A program built beside the caller (TRESVIK_BIN, else the running program's own folder).
std::string built_program(const std::string& name);

// A memory figure of /proc/<pid>/status in KiB ("VmRSS", "VmHWM"; pid "self" for this process);
// 0 when the process or the field is gone.
long process_memory_kib(const std::string& pid, const std::string& field);
