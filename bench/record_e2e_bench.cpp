// Recording end to end, as "capture and record" runs it: tresvik-camsim at 1920 x 1200 Mono8 and
// 30 fps with numbered frames, tresvik-odometer-sim counting 1000 per second on a pty, and
// tresvik-coord-sim answering on loopback. Goals: at least 0.99 of the frames the camera delivered
// while recording are stored, no DPP key holds a frame older than the key before it, and the
// write thread with the engine's threads spends at most 1.2 times a bare JPEG encode per stored
// frame (both parts printed), the encode timed over frames taken once a second while recording.
// Runs only inside a loopback-only network namespace:
// scripts/isolated.sh build/bin/bench-record-e2e [--seconds N].
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <ctime>
#include <exception>
#include <filesystem>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "bench/camera_bench_support.h"
#include "bench/session_bench_support.h"
#include "camera/camera_access.h"
#include "camera/recording_grab.h"
#include "recording/recording_step.h"
#include "recording/session_store.h"
#include "tools/camsim/frame_stamp.h"

namespace {

using namespace std::chrono_literals;

// The three simulators, started and ready; each is stopped when the object goes.
struct peers {
    peers();
    child_process camsim;
    child_process odometer;
    child_process coordinates;
    std::string pty;
    std::string coordinate_port;
};

peers::peers()
    : camsim({built_program("tresvik-camsim"), "--width", "1920", "--height", "1200", "--fps", "30",
              "--pixel-format", "Mono8", "--stamp"}),
      odometer({built_program("tresvik-odometer-sim"), "--pty", "--format", "b", "--rate", "1000",
                "--speed", "1000", "--profile", "cruise"}),
      coordinates({built_program("tresvik-coord-sim"), "--port", "0"}) {
    if (!camsim.line_after("tresvik-camsim ready"))
        throw std::runtime_error("tresvik-camsim did not start");
    pty = odometer.line_after("odometer on ").value_or("");
    coordinate_port = coordinates.line_after("listening on 127.0.0.1:").value_or("");
    if (pty.empty() || coordinate_port.empty())
        throw std::runtime_error("a simulator did not start");
}

recording_settings settings_of(const peers& p, const std::string& write_path) {
    return {p.pty, "127.0.0.1", p.coordinate_port, write_path, "левый"};
}

struct recording_figures {
    std::uint64_t delivered = 0; // by the camera while recording
    double writer_cpu = 0;       // seconds, the write thread itself
    double started_cpu = 0;      // seconds, threads it started (the engine's compaction)
    double wall = 0;
    double peers_cpu[3] = {};    // seconds while recording: camera, odometer, coordinates
    thread_cpu_list busiest;     // this process's threads at the end
    std::vector<cv::Mat> frames; // one a second: the encode's cost depends on the scene
};

void add_peers_cpu(const peers& p, double sign, recording_figures& figures) {
    const child_process* children[3] = {&p.camsim, &p.odometer, &p.coordinates};
    for (int i = 0; i < 3; ++i)
        figures.peers_cpu[i] += sign * process_cpu_seconds(children[i]->pid());
}

// The write thread and the threads it started, which inherit its name: the first made has the
// lowest id.
std::pair<double, double> recorder_cpu() {
    std::vector<pid_t> threads = threads_named("recorder");
    std::sort(threads.begin(), threads.end());
    std::pair<double, double> seconds{0, 0};
    for (std::size_t i = 0; i < threads.size(); ++i)
        (i == 0 ? seconds.first : seconds.second) += thread_cpu_seconds(threads[i]);
    return seconds;
}

// Recording starts with the first record status row; the end is read before the writer stops.
recording_figures record(bench_events& events, const recording_settings& settings,
                         CAM_HANDLE camera, const peers& p, int seconds) {
    session_store sessions;
    continuous_grab_write grab(&events, sessions, capture_settings{}, settings, camera);
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (events.record_status_rows() == 0 && !stop_requested &&
           std::chrono::steady_clock::now() < deadline)
        dispatch_for(events, 10ms);
    if (events.record_status_rows() == 0)
        throw std::runtime_error("recording did not start");
    const std::uint64_t delivered_before = events.latest() ? events.latest()->delivered : 0;
    const auto start = std::chrono::steady_clock::now();
    recording_figures figures;
    add_peers_cpu(p, -1, figures);
    const std::pair<double, double> before = recorder_cpu();
    for (int second = 0; second < seconds; ++second) {
        dispatch_for(events, 1s);
        grab.buffer().copy_out(figures.frames.emplace_back());
    }
    add_peers_cpu(p, 1, figures);
    figures.busiest = thread_cpu_table();
    const std::pair<double, double> after = recorder_cpu();
    figures.writer_cpu = after.first - before.first;
    figures.started_cpu = after.second - before.second;
    figures.delivered = events.latest() ? events.latest()->delivered - delivered_before : 0;
    figures.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return figures;
}

struct stored_figures {
    std::uint64_t frames = 0;
    std::uint64_t unreadable = 0; // no image or no stamp
    std::uint64_t older = 0;      // a frame older than the one under the key before
    std::uint64_t repeated = 0;   // the same frame as under the key before
    std::size_t sessions = 0;
};

// "<time>" and "<time> (n)" in the order recording_step makes them.
std::vector<std::filesystem::path> sessions_in_time_order(const std::string& root) {
    std::vector<std::filesystem::path> folders;
    for (const auto& entry : std::filesystem::directory_iterator(root))
        if (entry.is_directory())
            folders.push_back(entry.path());
    const auto copy_number = [](const std::filesystem::path& p) {
        const std::string name = p.filename().string();
        return name.back() == ')' ? std::stoi(name.substr(name.rfind('(') + 1)) : 1;
    };
    std::sort(folders.begin(), folders.end(), [&](const auto& a, const auto& b) {
        const std::string ta = a.filename().string().substr(0, 19);
        const std::string tb = b.filename().string().substr(0, 19);
        return ta != tb ? ta < tb : copy_number(a) < copy_number(b);
    });
    return folders;
}

void check_session(const session_reader& reader, stored_figures& s,
                   std::optional<std::uint32_t>& previous) {
    frame_cursor frames = reader.frames();
    for (bool more = frames.seek(0); more; more = frames.next()) {
        ++s.frames;
        const std::optional<std::uint32_t> stamp =
            read_frame_stamp(decode_stored_frame(frames.bytes(), cv::IMREAD_GRAYSCALE).image);
        if (!stamp) {
            ++s.unreadable;
            continue;
        }
        s.older += previous && *stamp < *previous;
        s.repeated += previous && *stamp == *previous;
        previous = stamp;
    }
}

stored_figures check_sessions(const std::string& root) {
    stored_figures s;
    std::optional<std::uint32_t> previous;
    session_store sessions(root);
    for (const auto& folder : sessions_in_time_order(root)) {
        ++s.sessions;
        check_session(*sessions.open_reader(folder.string()), s, previous);
    }
    return s;
}

double thread_cpu_now() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// CPU seconds of one cv::imencode at quality 85, the encode record_frame does, over frames taken
// while recording.
double bare_jpeg_seconds(const std::vector<cv::Mat>& frames) {
    constexpr int encodes = 3;
    if (frames.empty())
        return 0;
    std::vector<std::uint8_t> encoded;
    const std::vector<int> quality = {cv::IMWRITE_JPEG_QUALITY, 85};
    cv::imencode(".jpeg", frames.front(), encoded, quality);
    const double start = thread_cpu_now();
    for (const cv::Mat& frame : frames)
        for (int i = 0; i < encodes; ++i)
            cv::imencode(".jpeg", frame, encoded, quality);
    return (thread_cpu_now() - start) / encodes / static_cast<double>(frames.size());
}

void print(const recording_figures& r, const stored_figures& s, double jpeg) {
    const double ratio = r.delivered ? static_cast<double>(s.frames) / r.delivered : 0;
    std::printf("recorded %.1f s: delivered by the camera %llu, stored %llu in %zu session(s)\n",
                r.wall, static_cast<unsigned long long>(r.delivered),
                static_cast<unsigned long long>(s.frames), s.sessions);
    std::printf("stored / delivered: %.4f (goal >= 0.99)\n", ratio);
    std::printf("keys holding a frame older than the key before: %llu (goal 0); the same frame "
                "again: %llu; without a readable stamp: %llu\n",
                static_cast<unsigned long long>(s.older),
                static_cast<unsigned long long>(s.repeated),
                static_cast<unsigned long long>(s.unreadable));
    const double per_frame = s.frames ? r.writer_cpu / static_cast<double>(s.frames) : 0;
    const double engine = s.frames ? r.started_cpu / static_cast<double>(s.frames) : 0;
    std::printf("write thread CPU: %.2f s, %.2f ms per stored frame (%.1f %% of one core)\n",
                r.writer_cpu, per_frame * 1e3, 100.0 * r.writer_cpu / r.wall);
    std::printf("threads the write thread started (the engine's compaction): %.2f s, %.2f ms per "
                "stored frame\n",
                r.started_cpu, engine * 1e3);
    std::printf("bare JPEG encode of the same frames (quality 85): %.2f ms; ratio of the write "
                "thread %.2f, with the engine's threads %.2f (goal <= 1.2)\n",
                jpeg * 1e3, jpeg > 0 ? per_frame / jpeg : 0,
                jpeg > 0 ? (per_frame + engine) / jpeg : 0);
    std::printf("simulators' CPU while recording: camsim %.2f s, odometer-sim %.2f s, "
                "coord-sim %.2f s\n",
                r.peers_cpu[0], r.peers_cpu[1], r.peers_cpu[2]);
    print_busiest(r.busiest);
}

int run(int seconds) {
    const temp_dir folder;
    const std::string write_path = folder.path() + "/sessions";
    peers p;
    factory_guard factory{open_factory()};
    const JAI_Camera camera(factory.handle, find_simulated_camera(factory.handle, 15s));
    bench_events events;
    std::printf("recording 1920x1200 Mono8 at 30 fps, odometer 1000 counts/s, for %d s\n", seconds);
    const recording_figures recorded =
        record(events, settings_of(p, write_path), camera.handle(), p, seconds);
    events.dispatch();
    const stored_figures stored = check_sessions(write_path);
    print(recorded, stored, bare_jpeg_seconds(recorded.frames));
    std::printf("error rows: %llu\n", static_cast<unsigned long long>(events.error_rows()));
    return stop_requested ? 1 : 0;
}

} // namespace

int main(int argc, char** argv) {
    return camera_bench_main(argc, argv, "bench-record-e2e", run);
}
