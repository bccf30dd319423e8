#include "bench/camera_bench_support.h"

#include <clocale>

#include <wx/init.h>

#include <ifaddrs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "camera/camera_access.h"
#include "camera/gige_receive.h"

using std::chrono::steady_clock;

volatile std::sig_atomic_t stop_requested = 0;

namespace {
// Whether the only network interface is loopback, as inside scripts/isolated.sh.
bool only_loopback() {
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0)
        return false;
    bool only_lo = true;
    for (const ifaddrs* i = interfaces; i != nullptr; i = i->ifa_next)
        only_lo = only_lo && std::strcmp(i->ifa_name, "lo") == 0;
    freeifaddrs(interfaces);
    return only_lo;
}

// "--seconds N" from the command line, or the default; nothing for a malformed command line.
std::optional<int> read_seconds(int argc, char** argv, int default_seconds) {
    if (argc == 1)
        return default_seconds;
    int seconds = 0;
    char extra = 0;
    if (argc == 3 && std::strcmp(argv[1], "--seconds") == 0 &&
        std::sscanf(argv[2], "%d%c", &seconds, &extra) == 1 && seconds > 0)
        return seconds;
    return std::nullopt;
}

void catch_stop_signals() {
    struct sigaction action {};
    action.sa_handler = [](int) { stop_requested = 1; };
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}
} // namespace

bench_events::bench_events() {
    Bind(EVT_THREAD_STREAM_STATS, [this](wxThreadEvent& event) {
        latest_ = timed_statistics{event.GetPayload<stream_statistics>(), steady_clock::now()};
    });
    Bind(EVT_THREAD_LOG_ERROR, [this](wxThreadEvent& event) {
        ++error_rows_;
        std::cerr << "error row: " << event.GetString().utf8_string() << std::endl;
    });
    Bind(EVT_THREAD_RECORD_STATUS, [this](wxThreadEvent&) { ++record_status_rows_; });
    Bind(EVT_THREAD_LOG_INFO, [](wxThreadEvent&) {});
    Bind(EVT_THREAD_NEW_FRAME, [](wxThreadEvent&) {});
}

bench_events::~bench_events() {
    DeletePendingEvents();
}

void bench_events::dispatch() {
    while (m_pendingEvents && !m_pendingEvents->IsEmpty())
        ProcessPendingEvents();
}

void dispatch_for(bench_events& events, steady_clock::duration time) {
    const auto end = steady_clock::now() + time;
    while (!stop_requested && steady_clock::now() < end) {
        events.dispatch();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    events.dispatch();
}

namespace {
std::string first_line_of(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// Fields 14 and 15 of a stat line, counted after the command name, which may hold spaces.
double cpu_seconds_in(const std::string& stat_file) {
    const std::string line = first_line_of(stat_file);
    const std::size_t name_end = line.rfind(')');
    if (name_end == std::string::npos)
        return 0;
    std::istringstream fields(line.substr(name_end + 2));
    std::string field;
    unsigned long long user = 0, system = 0;
    for (int index = 3; index <= 13 && fields >> field; ++index) {
    }
    fields >> user >> system;
    return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

} // namespace

std::vector<pid_t> threads_named(const std::string& name) {
    std::vector<pid_t> found;
    std::error_code ignored;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", ignored))
        if (first_line_of(task.path() / "comm") == name)
            found.push_back(static_cast<pid_t>(std::stol(task.path().filename().string())));
    return found;
}

double thread_cpu_seconds(pid_t thread) {
    return cpu_seconds_in("/proc/self/task/" + std::to_string(thread) + "/stat");
}

double process_cpu_seconds(pid_t process) {
    return cpu_seconds_in("/proc/" + std::to_string(process) + "/stat");
}

thread_cpu_list thread_cpu_table() {
    thread_cpu_list table;
    std::error_code ignored;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", ignored)) {
        const auto thread = static_cast<pid_t>(std::stol(task.path().filename().string()));
        table.emplace_back(first_line_of(task.path() / "comm"), thread_cpu_seconds(thread));
    }
    std::sort(table.begin(), table.end(),
              [](const auto& a, const auto& b) { return a.second > b.second; });
    return table;
}

void print_busiest(const thread_cpu_list& threads) {
    std::printf("busiest threads (CPU seconds):");
    for (std::size_t i = 0; i < threads.size() && i < 6; ++i)
        std::printf(" %s %.2f", threads[i].first.c_str(), threads[i].second);
    std::printf("\n");
}

std::string find_simulated_camera(camera_layer& layer, std::chrono::seconds within) {
    const auto deadline = steady_clock::now() + within;
    while (!stop_requested && steady_clock::now() < deadline) {
        for (const auto& [description, id] : enumerate_cameras(layer))
            if (description.find("Tresvik-CamSim") != std::string::npos)
                return id;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    throw std::runtime_error("tresvik-camsim was not found");
}

void print_receive_limit(std::uint64_t frame_bytes) {
    const std::uint64_t limit = read_rmem_max();
    std::printf("net.core.rmem_max: %llu bytes, one frame %llu bytes: %s\n",
                static_cast<unsigned long long>(limit),
                static_cast<unsigned long long>(frame_bytes),
                limit >= frame_bytes ? "holds a frame" : "LESS than a frame");
}

int camera_bench_main(int argc, char** argv, const char* name, int (*run)(int seconds)) {
    std::setlocale(LC_ALL, "C.UTF-8");
    const std::optional<int> seconds = read_seconds(argc, argv, 60);
    if (!seconds) {
        std::fprintf(stderr, "usage: %s [--seconds N]\n", name);
        return 2;
    }
    if (!only_loopback()) {
        std::fprintf(stderr, "%s: run it inside scripts/isolated.sh\n", name);
        return 2;
    }
    wxInitializer wx;
    if (!wx.IsOk())
        return 2;
    catch_stop_signals();
    try {
        return run(*seconds);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s: %s\n", name, error.what());
        return 1;
    }
}
