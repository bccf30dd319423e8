// Start-up: the time from starting a process to the main window shown, and to its camera list
// filled (the preferred camera opened), with 0, 1 and 3 tresvik-camsim cameras on loopback, beside
// an empty wxFrame program measured the same way. Goal: the window within 0.5 s whatever the
// cameras; finding them, about a second of network discovery, comes after. Each start is a new
// process of this program that builds the window in a scratch home folder and says when it shows.
// Runs on a display inside a loopback-only network namespace:
// scripts/isolated.sh scripts/with-display.sh build/bin/bench-startup [--seconds N] (default 60).
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <numeric>
#include <stdexcept>
#include <thread>

#include <wx/app.h>

#include "app/tresvik_frame.h"
#include "bench/camera_bench_support.h"
#include "harness/temp_dir.h"

namespace {

using std::chrono::steady_clock;

// The child: the window, "shown" once it is on the screen, "listed" once the recorder has listed
// the cameras; then it waits to be killed.
int show_window(bool empty, int argc, char** argv) {
    wxApp::SetInstance(new wxApp);
    if (!wxEntryStart(argc, argv))
        return 2;
    auto* window = empty ? new wxFrame(nullptr, wxID_ANY, "empty", wxDefaultPosition, wxDefaultSize,
                                       wxDEFAULT_FRAME_STYLE | wxMAXIMIZE)
                         : new tresvik_frame(nullptr, id_main_window, L"Подвагонные камеры",
                                             wxDefaultPosition, wxDefaultSize);
    window->Show();
    wxTheApp->Yield();
    std::printf("shown\n");
    std::fflush(stdout);
    auto* main_window = dynamic_cast<tresvik_frame*>(window);
    while (main_window && main_window->current_command_state().recorder_busy) {
        wxTheApp->Yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::printf("listed\n");
    std::fflush(stdout);
    for (;;)
        pause();
}

struct start_times {
    std::vector<double> shown, listed; // ms
};

double ms_since(steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(steady_clock::now() - start).count();
}

void time_start(const std::string& what, start_times& into) {
    const int quiet = open("/dev/null", O_WRONLY | O_CLOEXEC); // the toolkit's warnings
    const auto start = steady_clock::now();
    child_process child({built_program("bench-startup"), what}, quiet);
    close(quiet);
    for (auto* times : {&into.shown, &into.listed}) {
        if (!child.line(std::chrono::seconds(20)))
            throw std::runtime_error(what + " did not start");
        times->push_back(ms_since(start));
    }
}

void print(const std::string& what, const char* step, std::vector<double> ms, const char* goal) {
    std::sort(ms.begin(), ms.end());
    const double mean = std::accumulate(ms.begin(), ms.end(), 0.0) / static_cast<double>(ms.size());
    std::printf("%-24s %-13s %2zu runs, mean %6.1f ms, least %6.1f, most %6.1f%s\n", what.c_str(),
                step, ms.size(), mean, ms.front(), ms.back(), goal);
}

void time_starts(const std::string& what, const std::string& option, int seconds) {
    start_times times;
    const auto end = steady_clock::now() + std::chrono::seconds(seconds);
    do
        time_start(option, times);
    while (!stop_requested && (times.shown.size() < 3 || steady_clock::now() < end));
    print(what, "window shown:", times.shown, " (goal: most <= 500)");
    if (option != "--empty")
        print(what, "camera list:", times.listed, "");
}

// On 127.0.0.<number>; inside the private namespace nothing else sees the address.
std::unique_ptr<child_process> start_camera(int number) {
    const std::string address = "127.0.0." + std::to_string(number);
    std::system(("ip addr add " + address + "/8 dev lo 2>/dev/null").c_str());
    auto camera = std::make_unique<child_process>(
        std::vector<std::string>{built_program("tresvik-camsim"), "--address", address, "--serial",
                                 "CS0" + std::to_string(number)});
    if (!camera->line_after("tresvik-camsim ready"))
        throw std::runtime_error("tresvik-camsim did not start on " + address);
    return camera;
}

int run(int seconds) {
    const temp_dir home;
    setenv("HOME", home.path().c_str(), 1);
    time_starts("empty wxFrame program:", "--empty", seconds / 4);
    std::vector<std::unique_ptr<child_process>> cameras;
    for (int count : {0, 1, 3}) {
        while (static_cast<int>(cameras.size()) < count)
            cameras.push_back(start_camera(static_cast<int>(cameras.size()) + 1));
        time_starts("tresvik, " + std::to_string(count) + " camera(s):", "--window", seconds / 4);
    }
    return stop_requested ? 1 : 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::string(argv[1]) == "--empty" || std::string(argv[1]) == "--window"))
        return show_window(std::string(argv[1]) == "--empty", argc, argv);
    return camera_bench_main(argc, argv, "bench-startup", run);
}
