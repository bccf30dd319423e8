// The whole program at a saturated camera link: the main window recording ("Захват и запись") with
// its live view on the display, tresvik-camsim at 1920 x 1200 Mono8 and 54 fps (124 MB/s), then
// at 2448 x 2048 and 24 fps (the same link from a 5 MP camera), the odometer at 1,000 counts a
// second and the coordinate server on loopback. For each: the share of the frames the camera sent
// that were stored (goal at least 0.999), the program's CPU in cores (goal at most 0.5) beside a
// bare JPEG encode of the same frames at the same rate (the floor), and each thread's share by
// name, the odometer thread's being what the counts cost. Each size runs in a new process of this
// program that builds the window in a scratch home folder; the stored frames are counted by the
// stamps the camera drew on them. Runs on a display inside a loopback-only network namespace:
// scripts/isolated.sh scripts/with-display.sh build/bin/bench-line-rate [--seconds N] (default 60).
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include <opencv2/imgcodecs.hpp>
#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/timer.h>

#include "app/tresvik_frame.h"
#include "base/thread_name.h"
#include "bench/camera_bench_support.h"
#include "bench/session_bench_support.h"
#include "recording/session_store.h"
#include "tools/camsim/frame_stamp.h"

namespace {

using namespace std::chrono_literals;
using cpu_by_name = std::map<std::string, double>; // seconds

constexpr double warm_up_seconds = 5;
constexpr double counts_per_second = 1000;

// The child: this process's threads by name, and the whole process, in CPU seconds.
cpu_by_name cpu_now() {
    cpu_by_name cpu;
    for (const auto& [name, seconds] : thread_cpu_table())
        cpu[name] += seconds;
    cpu[""] = process_cpu_seconds(getpid());
    return cpu;
}

// Runs the window's own event loop for the time, as the program's main loop would.
void run_loop_for(double seconds) {
    wxGUIEventLoop loop;
    wxTimer end;
    end.Bind(wxEVT_TIMER, [&](wxTimerEvent&) { loop.Exit(); });
    end.StartOnce(static_cast<int>(seconds * 1000));
    loop.Run();
}

bool yield_until(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (!condition() && std::chrono::steady_clock::now() < deadline) {
        wxTheApp->Yield();
        std::this_thread::sleep_for(10ms);
    }
    return condition();
}

// "cpu\t<name>\t<seconds>" for every thread name and "" for the process, over the time between.
void print_cpu(const char* phase, const cpu_by_name& before, const cpu_by_name& after) {
    for (const auto& [name, seconds] : after)
        std::printf("%s\t%s\t%.3f\n", phase, name.c_str(),
                    seconds - (before.count(name) ? before.at(name) : 0));
    std::fflush(stdout);
}

// The delivered frames of the capture's counters in status field 0 ("delivered\t<n>"), and the
// whole text.
void print_delivered(tresvik_frame& window) {
    const std::string text = window.GetStatusBar()->GetStatusText(0).utf8_string();
    const std::size_t at = text.find("delivered: ");
    std::printf("delivered\t%s\ncounters\t%s\n",
                at == std::string::npos ? "0"
                                        : text.substr(at + 11, text.find(' ', at + 11)).c_str(),
                text.c_str());
}

// Records for the seconds after a warm-up; the figures are printed as lines for the parent.
int record_in_window(int argc, char** argv, double seconds) {
    name_lent_thread("tresvik"); // the GUI thread, as the program's own is called
    wxApp::SetInstance(new wxApp);
    if (!wxEntryStart(argc, argv))
        return 2;
    auto* window = new tresvik_frame(nullptr, id_main_window, L"Подвагонные камеры",
                                     wxDefaultPosition, wxDefaultSize);
    window->Show();
    if (!yield_until([&] {
            const command_state state = window->current_command_state();
            return state.camera_open && !state.recorder_busy;
        }))
        return 1;
    wxCommandEvent record(wxEVT_MENU, id_capture_record);
    window->GetEventHandler()->ProcessEvent(record);
    run_loop_for(warm_up_seconds);
    print_delivered(*window);
    const cpu_by_name start = cpu_now();
    run_loop_for(seconds);
    print_cpu("cpu", start, cpu_now());
    print_delivered(*window);
    window->Destroy();
    wxTheApp->Yield();
    return 0;
}

// The parent's side: one size of camera, the simulators and the settings pointing at them.
struct line_setup {
    int width, height, fps;
};

struct peers {
    peers(const line_setup& line, const std::string& home, const std::string& sessions);
    child_process camsim;
    child_process odometer{{built_program("tresvik-odometer-sim"), "--pty", "--format", "b",
                            "--rate", "1000", "--speed", "1000", "--profile", "cruise"}};
    child_process coordinates{{built_program("tresvik-coord-sim"), "--port", "0"}};
};

peers::peers(const line_setup& line, const std::string& home, const std::string& sessions)
    : camsim({built_program("tresvik-camsim"), "--width", std::to_string(line.width), "--height",
              std::to_string(line.height), "--fps", std::to_string(line.fps), "--stamp"}) {
    const std::optional<std::string> pty = odometer.line_after("odometer on ");
    const std::optional<std::string> port = coordinates.line_after("listening on 127.0.0.1:");
    if (!camsim.line_after("tresvik-camsim ready") || !pty || !port)
        throw std::runtime_error("a simulator did not start");
    std::filesystem::create_directories(home + "/Velmora3/config");
    std::ofstream(home + "/Velmora3/config/.tresvik")
        << "side=левый\ndpp_port=" << *pty << "\ncoordinate_server_port=" << *port
        << "\nwrite_path=" << sessions << "\n";
}

// What was stored: frames, the stamps of the first and last (the camera numbers every frame it
// sends), and one frame a second of recording decoded, for the bare encode.
struct stored_frames {
    std::uint64_t count = 0;
    std::uint32_t first = 0, last = 0;
    std::vector<cv::Mat> samples;
};

stored_frames read_stored(const std::string& root, int fps) {
    stored_frames stored;
    session_store sessions(root);
    for (const auto& folder : std::filesystem::directory_iterator(root)) {
        const auto reader = sessions.open_reader(folder.path().string());
        frame_cursor frames = reader->frames();
        for (bool more = frames.seek(0); more; more = frames.next()) {
            const cv::Mat image = decode_stored_frame(frames.bytes(), cv::IMREAD_GRAYSCALE).image;
            const std::uint32_t stamp = read_frame_stamp(image).value_or(0);
            stored.first = stored.count++ == 0 ? stamp : std::min(stored.first, stamp);
            stored.last = std::max(stored.last, stamp);
            if (stored.count % fps == 0)
                stored.samples.push_back(image);
        }
    }
    return stored;
}

// The child's lines: CPU seconds by thread name, the delivered frames at the start and the end.
struct window_figures {
    cpu_by_name cpu;
    std::vector<double> delivered;
    std::string counters;
};

window_figures run_window(const line_setup& line, int seconds) {
    const int quiet = open("/dev/null", O_WRONLY | O_CLOEXEC); // the toolkit's warnings
    child_process child({built_program("bench-line-rate"), "--window", std::to_string(seconds)},
                        quiet);
    close(quiet);
    window_figures figures;
    const auto limit = std::chrono::seconds(seconds + 60);
    while (const std::optional<std::string> text = child.line(limit)) {
        const std::size_t name = text->find('\t'), value = text->rfind('\t');
        const std::string kind = text->substr(0, name), rest = text->substr(name + 1);
        if (kind == "delivered")
            figures.delivered.push_back(std::stod(rest));
        else if (kind == "counters")
            figures.counters = rest;
        else if (kind == "cpu" && value != name)
            figures.cpu[text->substr(name + 1, value - name - 1)] =
                std::stod(text->substr(value + 1));
    }
    if (child.wait() != 0 || figures.delivered.size() != 2)
        throw std::runtime_error("the window did not record " + std::to_string(line.width));
    return figures;
}

double share(const cpu_by_name& cpu, const std::string& name, double seconds) {
    return cpu.count(name) ? cpu.at(name) / seconds : 0;
}

void print(const window_figures& w, const stored_frames& s, int seconds) {
    const std::uint64_t sent = s.count ? s.last - s.first + 1 : 0;
    const double rate = (w.delivered[1] - w.delivered[0]) / seconds;
    std::printf("the capture's counters at the end: %s; %.1f fps delivered while measured\n",
                w.counters.c_str(), rate);
    std::printf("stored / sent: %.4f (goal >= 0.999): %llu of the %llu frames the camera sent "
                "(stamps %u to %u)\n",
                sent ? double(s.count) / double(sent) : 0, (unsigned long long)s.count,
                (unsigned long long)sent, s.first, s.last);
    const double encode = bare_jpeg_seconds(s.samples), program = share(w.cpu, "", seconds);
    std::printf("program CPU: %.3f cores (goal <= 0.5); bare JPEG encode of the same frames at "
                "%.1f fps: %.3f cores (%.2f ms a frame); program / encode %.2f\n",
                program, rate, encode * rate, encode * 1e3,
                encode > 0 ? program / (encode * rate) : 0);
    std::printf("threads (cores):");
    for (const auto& [name, seconds_used] : w.cpu)
        if (!name.empty() && seconds_used > 0)
            std::printf(" %s %.3f;", name.c_str(), seconds_used / seconds);
    std::printf("\nlive view and capture (GUI, capture, stream threads): %.3f cores; storage "
                "(recorder, leveldb): %.3f cores; counts (odometer): %.1f us a count\n",
                share(w.cpu, "tresvik", seconds) + share(w.cpu, "capture", seconds) +
                    share(w.cpu, "arv_gv_stream", seconds),
                share(w.cpu, "recorder", seconds) + share(w.cpu, "leveldb", seconds),
                share(w.cpu, "odometer", seconds) * 1e6 / counts_per_second);
    std::fflush(stdout);
}

int run(int seconds) {
    std::ifstream load("/proc/loadavg");
    std::string minute;
    load >> minute;
    std::printf("load average of the last minute before the runs: %s (other work beside the "
                "program costs it frames)\n",
                minute.c_str());
    for (const line_setup& line : {line_setup{1920, 1200, 54}, line_setup{2448, 2048, 24}}) {
        const temp_dir scratch;
        const std::string home = scratch.path() + "/home", sessions = scratch.path() + "/sessions";
        std::filesystem::create_directories(sessions);
        const peers p(line, home, sessions);
        setenv("HOME", home.c_str(), 1);
        std::printf("%dx%d Mono8 at %d fps (%.0f MB/s), odometer 1000 counts/s, recording %d s "
                    "with the live view\n",
                    line.width, line.height, line.fps,
                    double(line.width) * line.height * line.fps / 1e6, seconds);
        std::fflush(stdout);
        const window_figures figures = run_window(line, seconds);
        print(figures, read_stored(sessions, line.fps), seconds);
        if (stop_requested)
            return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--window")
        return record_in_window(argc, argv, std::stod(argv[2]));
    return camera_bench_main(argc, argv, "bench-line-rate", run);
}
