// Live capture of tresvik-camsim at 1920 x 1200 Mono8 and 30 fps through the camera layer and the
// capture thread, as live view runs it. Goals: frames delivered at the simulator's rate within 5 %,
// none lost, none corrupt. Also prints the capture thread's share of one core. Runs only inside a
// loopback-only network namespace: scripts/isolated.sh build/bin/bench-capture [--seconds N].
#include <cstdio>

#include "bench/camera_bench_support.h"
#include "camera/camera_access.h"
#include "camera/grab_modes.h"
#include "tools/camsim/frame_stamp.h"

namespace {

using namespace std::chrono_literals;

constexpr double simulator_fps = 30.0;
constexpr std::uint64_t frame_bytes = 1920 * 1200;
// Frames before this are left out of the rate and the CPU share: the stream is still starting.
constexpr auto warm_up = 2s;

// What the benchmark sees at one moment of the capture.
struct sample {
    timed_statistics statistics;
    double capture_cpu = 0;             // the capture thread's CPU seconds so far
    std::optional<std::uint32_t> stamp; // the simulator's number of the newest frame
};

struct capture_figures {
    sample start, end;
    thread_cpu_list busiest; // at the end
};

sample take_sample(const bench_events& events, pid_t capture, frame_buffer& frames) {
    sample now;
    now.statistics = *events.latest();
    now.capture_cpu = thread_cpu_seconds(capture);
    cv::Mat newest;
    frames.copy_out(newest);
    now.stamp = read_frame_stamp(newest);
    return now;
}

// The first sample is taken after the warm-up, the second at the end, both while capturing.
capture_figures capture(bench_events& events, camera_device& camera, int seconds) {
    continuous_grab grab(&events, capture_settings{}, camera);
    dispatch_for(events, warm_up);
    const std::vector<pid_t> threads = threads_named("capture");
    if (threads.size() != 1 || !events.latest())
        throw std::runtime_error("the capture thread did not start capturing");
    capture_figures figures;
    figures.start = take_sample(events, threads.front(), grab.buffer());
    dispatch_for(events, std::chrono::seconds(seconds));
    figures.end = take_sample(events, threads.front(), grab.buffer());
    figures.busiest = thread_cpu_table();
    return figures;
}

// Frames the simulator numbered between the two samples, per second; 0 without both stamps.
double simulator_rate(const capture_figures& f, double wall) {
    if (!f.start.stamp || !f.end.stamp)
        return 0;
    return static_cast<double>(*f.end.stamp - *f.start.stamp) / wall;
}

void print(const capture_figures& f) {
    const timed_statistics& last = f.end.statistics;
    const double wall =
        std::chrono::duration<double>(last.received - f.start.statistics.received).count();
    const double fps = static_cast<double>(last.completed - f.start.statistics.completed) / wall;
    wxThreadEvent line(EVT_THREAD_STREAM_STATS);
    line.SetPayload<stream_statistics>(last);
    std::printf("last statistics line: %s\n", report_text(line).utf8_str().data());
    std::printf("measured over %.1f s: %.2f fps, %.3f of the nominal %.0f fps (goal >= 0.95)\n",
                wall, fps, fps / simulator_fps, simulator_fps);
    std::printf("simulator sent %.2f fps by its frame numbers\n", simulator_rate(f, wall));
    std::printf("underruns: %llu (goal 0), failed: %llu (goal 0)\n",
                static_cast<unsigned long long>(last.underruns),
                static_cast<unsigned long long>(last.failed));
    const double cpu = f.end.capture_cpu - f.start.capture_cpu;
    std::printf("capture thread CPU: %.2f s, %.1f %% of one core\n", cpu, 100.0 * cpu / wall);
    print_busiest(f.busiest);
}

int run(int seconds) {
    print_receive_limit(frame_bytes);
    child_process camsim({built_program("tresvik-camsim"), "--width", "1920", "--height", "1200",
                          "--fps", "30", "--pixel-format", "Mono8", "--stamp"});
    if (!camsim.line_after("tresvik-camsim ready"))
        throw std::runtime_error("tresvik-camsim did not start");
    const std::unique_ptr<camera_layer> layer = open_factory();
    JAI_Camera camera(*layer, find_simulated_camera(*layer, 15s));
    bench_events events;
    std::printf("capture of 1920x1200 Mono8 at %.0f fps for %d s\n", simulator_fps, seconds);
    const capture_figures figures = capture(events, camera.device(), seconds);
    print(figures);
    std::printf("error rows: %llu\n", static_cast<unsigned long long>(events.error_rows()));
    return stop_requested ? 1 : 0;
}

} // namespace

int main(int argc, char** argv) {
    return camera_bench_main(argc, argv, "bench-capture", run);
}
