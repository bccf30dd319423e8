#pragma once

// Shared pieces of the benchmarks that capture from tresvik-camsim: the safety check of the
// network namespace, child processes, the owner of the thread events, the statistics line, thread
// CPU times and the camera's discovery. Everything here runs on the benchmark's main thread except
// where a comment says otherwise.

#include <sys/types.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <wx/event.h>

#include "camera/camera_device.h"
#include "harness/child_process.h"
#include "log/thread_events.h"

// Set by SIGINT or SIGTERM once camera_bench_main runs, so that a benchmark stopped early still
// stops its threads and children and removes its files; the signal also ends a child_process's
// wait for a line.
extern volatile std::sig_atomic_t stop_requested;

// The main of a camera benchmark: reads --seconds (default 60), refuses to run outside a
// loopback-only namespace (camera discovery broadcasts on every interface), initialises wxBase,
// catches the stop signals and runs the benchmark, turning an exception into a message and exit
// code 1.
int camera_bench_main(int argc, char** argv, const char* name, int (*run)(int seconds));

// Counters the capture thread reported and when the benchmark received them.
struct timed_statistics : stream_statistics {
    std::chrono::steady_clock::time_point received;
};

// Stands in for the main window: receives the threads' events when dispatch() runs them, keeps the
// latest statistics, and prints error rows to stderr.
class bench_events : public wxEvtHandler {
public:
    bench_events();
    ~bench_events() override;

    void dispatch();
    const std::optional<timed_statistics>& latest() const { return latest_; }
    std::uint64_t error_rows() const { return error_rows_; }
    std::uint64_t record_status_rows() const { return record_status_rows_; }

private:
    std::optional<timed_statistics> latest_;
    std::uint64_t error_rows_ = 0;
    std::uint64_t record_status_rows_ = 0;
};

// Dispatches the events every few milliseconds until the time has passed or a stop is requested.
void dispatch_for(bench_events& events, std::chrono::steady_clock::duration time);

// The threads of this process with this name (/proc/self/task/*/comm).
std::vector<pid_t> threads_named(const std::string& name);
// User plus system CPU time of one thread of this process in seconds; 0 once it has gone.
double thread_cpu_seconds(pid_t thread);
// The same of a whole process, read from /proc/<pid>/stat.
double process_cpu_seconds(pid_t process);
// Every thread of this process by name with its CPU seconds, busiest first.
using thread_cpu_list = std::vector<std::pair<std::string, double>>;
thread_cpu_list thread_cpu_table();
// "busiest threads (CPU seconds): name seconds ..." of the first few.
void print_busiest(const thread_cpu_list& threads);

// Waits up to the time for tresvik-camsim to be listed and returns its camera id; throws
// std::runtime_error when none appears.
std::string find_simulated_camera(camera_layer& layer, std::chrono::seconds within);

// The kernel's receive buffer limit beside one frame, as the capture thread checks it.
void print_receive_limit(std::uint64_t frame_bytes);
