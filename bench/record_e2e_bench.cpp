// Recording end to end, as "capture and record" runs it: tresvik-camsim at 1920 x 1200 Mono8 and
// 30 fps with numbered frames, tresvik-odometer-sim counting 1000 per second on a pty, and
// tresvik-coord-sim answering on loopback. Goals: at least 0.99 of the frames the camera delivered
// while recording are stored, no DPP key holds a frame older than the key before it, and the
// write thread with the engine's threads spends at most 1.2 times a bare JPEG encode per stored
// frame (both parts printed). The encode is timed side by side with the recording, on frames
// taken once a second, since the write thread encodes while the camera's stream, the simulators
// and the engine share the machine (on two cores that makes the same encode 5 to 25 % dearer);
// the same frames encoded again after the recording, on a quiet machine, are printed beside it.
// With --archive, two runs with a new session every 5 s: without the archive, then with the
// program's archiver copying a backlog of sessions at full speed to s3rver on loopback while
// recording; the two stored / delivered ratios side by side (goal for the second: at least 0.99).
// The archive thread and its rclone run in the idle scheduling and I/O classes, as in the program.
// With --lose-packets N the camera loses N per thousand of its image data packets and sends them
// again when asked; printed besides: the share of the frames the camera sent while recording
// (known from the stamps) that were stored, goal at least 0.99, and the camera's own counters.
// Runs only inside a loopback-only network namespace:
// scripts/isolated.sh build/bin/bench-record-e2e [--seconds N] [--archive] [--lose-packets N].
#include <algorithm>
#include <array>
#include <clocale>
#include <cstdio>
#include <ctime>
#include <exception>
#include <filesystem>
#include <unistd.h>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "bench/camera_bench_support.h"
#include "bench/session_bench_support.h"
#include "camera/camera_access.h"
#include "camera/recording_grab.h"
#include "recorder/archive_runner.h"
#include "recording/recording_step.h"
#include "recording/session_store.h"
#include "tests/archive/archive_peers.h"
#include "tools/camsim/frame_stamp.h"

namespace {

using namespace std::chrono_literals;

bool with_archive = false;      // --archive
std::uint32_t lose_packets = 0; // --lose-packets N

// The three simulators, started and ready; each is stopped when the object goes. The coordinate
// server starts a new session every change_every seconds, 0: never.
struct peers {
    explicit peers(int change_every = 0);
    child_process camsim;
    child_process odometer;
    child_process coordinates;
    std::string pty;
    std::string coordinate_port;
};

peers::peers(int change_every)
    : camsim({built_program("tresvik-camsim"), "--width", "1920", "--height", "1200", "--fps", "30",
              "--pixel-format", "Mono8", "--stamp", "--lose-packets",
              std::to_string(lose_packets)}),
      odometer({built_program("tresvik-odometer-sim"), "--pty", "--format", "b", "--rate", "1000",
                "--speed", "1000", "--profile", "cruise"}),
      coordinates({built_program("tresvik-coord-sim"), "--port", "0", "--change-every",
                   std::to_string(change_every)}) {
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
    double started_cpu = 0;      // seconds, the engine's threads
    double odometer_cpu = 0;     // seconds, the thread taking counts as they arrive
    double wall = 0;
    double peers_cpu[3] = {};    // seconds while recording: camera, odometer, coordinates
    thread_cpu_list busiest;     // this process's threads at the end
    std::vector<cv::Mat> frames; // one a second: the encode's cost depends on the scene
    double encode_beside = 0;    // seconds, one encode of those frames while recording
};

void add_peers_cpu(const peers& p, double sign, recording_figures& figures) {
    const child_process* children[3] = {&p.camsim, &p.odometer, &p.coordinates};
    for (int i = 0; i < 3; ++i)
        figures.peers_cpu[i] += sign * process_cpu_seconds(children[i]->pid());
}

// The write thread, the engine's threads (its compactions, and the thread that has it flush its
// write buffer) and the odometer thread, each named by itself.
std::array<double, 3> recorder_cpu() {
    const auto seconds_of = [](const char* name) {
        double seconds = 0;
        for (const pid_t thread : threads_named(name))
            seconds += thread_cpu_seconds(thread);
        return seconds;
    };
    return {seconds_of("recorder"), seconds_of("leveldb") + seconds_of("table flush"),
            seconds_of("odometer")};
}

// Recording starts with the first record status row; the end is read before the writer stops.
recording_figures record(bench_events& events, const recording_settings& settings,
                         camera_device& camera, const peers& p, int seconds) {
    session_store sessions;
    continuous_grab_write grab(&events, sessions, capture_settings{}, settings, camera);
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (events.record_status_rows() == 0 && !stop_requested &&
           std::chrono::steady_clock::now() < deadline)
        dispatch_for(events, 10ms);
    if (events.record_status_rows() == 0)
        throw std::runtime_error("recording did not start");
    const std::uint64_t delivered_before = events.latest() ? events.latest()->completed : 0;
    const auto start = std::chrono::steady_clock::now();
    recording_figures figures;
    add_peers_cpu(p, -1, figures);
    const std::array<double, 3> before = recorder_cpu();
    for (int second = 0; second < seconds; ++second) {
        dispatch_for(events, 1s);
        grab.buffer().copy_out(figures.frames.emplace_back());
        figures.encode_beside += bare_jpeg_seconds({figures.frames.back()}) / seconds;
    }
    add_peers_cpu(p, 1, figures);
    figures.busiest = thread_cpu_table();
    const std::array<double, 3> after = recorder_cpu();
    figures.writer_cpu = after[0] - before[0];
    figures.started_cpu = after[1] - before[1];
    figures.odometer_cpu = after[2] - before[2];
    figures.delivered = events.latest() ? events.latest()->completed - delivered_before : 0;
    figures.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return figures;
}

struct stored_figures {
    std::uint64_t frames = 0;
    std::uint64_t unreadable = 0; // no image or no stamp
    std::uint64_t older = 0;      // a frame older than the one under the key before
    std::uint64_t repeated = 0;   // the same frame as under the key before
    std::size_t sessions = 0;
    std::uint32_t lowest = UINT32_MAX; // stamps: the camera's frame numbers stored
    std::uint32_t highest = 0;
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
        s.lowest = std::min(s.lowest, *stamp);
        s.highest = std::max(s.highest, *stamp);
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
    std::printf("the engine's threads (table writes, compactions): %.2f s, %.2f ms per "
                "stored frame\n",
                r.started_cpu, engine * 1e3);
    std::printf("odometer thread (takes each count as it arrives, not part of storing): %.2f s\n",
                r.odometer_cpu);
    const double beside = r.encode_beside;
    std::printf("bare JPEG encode of the same frames (quality 85), beside the recording: %.2f ms; "
                "ratio of the write thread %.2f, with the engine's threads %.2f (goal <= 1.2)\n",
                beside * 1e3, beside > 0 ? per_frame / beside : 0,
                beside > 0 ? (per_frame + engine) / beside : 0);
    std::printf("the same encode after the recording, on a quiet machine: %.2f ms; ratio with the "
                "engine's threads %.2f\n",
                jpeg * 1e3, jpeg > 0 ? (per_frame + engine) / jpeg : 0);
    std::printf("simulators' CPU while recording: camsim %.2f s, odometer-sim %.2f s, "
                "coord-sim %.2f s\n",
                r.peers_cpu[0], r.peers_cpu[1], r.peers_cpu[2]);
    print_busiest(r.busiest);
}

// Frames the camera sent while recording are those numbered from the first stored to the last;
// each stored frame is counted once, as repeats and older ones are printed apart.
void print_share_of_sent(const bench_events& events, const stored_figures& s) {
    const std::uint64_t sent = s.highest >= s.lowest ? s.highest - s.lowest + 1 : 0;
    const std::uint64_t stored = s.frames - s.repeated - s.older - s.unreadable;
    std::printf("camera losing %u per thousand data packets: sent while recording %llu, stored "
                "%llu: stored / sent %.4f (goal >= 0.99)\n",
                lose_packets, static_cast<unsigned long long>(sent),
                static_cast<unsigned long long>(stored),
                sent ? static_cast<double>(stored) / static_cast<double>(sent) : 0.0);
    const stream_statistics none;
    const stream_statistics& c = events.latest() ? *events.latest() : none;
    std::printf("camera layer since the capture began: frames completed %llu, failed (incomplete) "
                "%llu, lost for want of a buffer %llu; packets missing %llu, resent %llu\n",
                static_cast<unsigned long long>(c.completed),
                static_cast<unsigned long long>(c.failed),
                static_cast<unsigned long long>(c.underruns),
                static_cast<unsigned long long>(c.missing_packets),
                static_cast<unsigned long long>(c.resent_packets));
}

// The simulator's own counters over its whole run, printed once it has stopped.
void print_camera_counters(peers& p) {
    if (lose_packets == 0)
        return;
    p.camsim.signal(SIGTERM);
    const std::optional<std::string> counters = p.camsim.line_after("tresvik-camsim stopped: ");
    std::printf("camera: %s\n", counters.value_or("no counters").c_str());
}

// A run without the archive, its figures printed.
std::pair<recording_figures, stored_figures>
record_alone(const peers& p, camera_device& camera, const std::string& write_path, int seconds) {
    bench_events events;
    const recording_figures recorded =
        record(events, settings_of(p, write_path), camera, p, seconds);
    events.dispatch();
    const stored_figures stored = check_sessions(write_path);
    print(recorded, stored, bare_jpeg_seconds(recorded.frames));
    std::printf("error rows: %llu\n", static_cast<unsigned long long>(events.error_rows()));
    if (lose_packets != 0)
        print_share_of_sent(events, stored);
    return {recorded, stored};
}

// Closed sessions for the archive to copy all along: one of scene frames at the camera's size,
// copied until there is about 40 MB for each second of recording, more than s3rver takes on
// loopback. Named before any recorded session, so that they go first.
std::vector<std::string> make_backlog(const std::string& root, int seconds) {
    const std::string first = root + "/2000.01.01 00.00.00";
    {
        session_writer writer;
        writer.open(first);
        for (int f = 0; f < 120; ++f)
            writer.record_frame(scene_frame(1200, 1920, f * 16), 100 + f);
    }
    std::uint64_t bytes = 0;
    for (const auto& file : std::filesystem::directory_iterator(first))
        bytes += file.file_size();
    std::vector<std::string> backlog{first};
    for (int n = 1; bytes * backlog.size() < 40e6 * seconds; ++n) {
        backlog.push_back(first + " (" + std::to_string(n + 1) + ")");
        std::filesystem::copy(first, backlog.back());
    }
    // On the disk before recording starts: the recorder's syncs would otherwise wait for gigabytes
    // of copies that a car never makes while it records.
    sync();
    return backlog;
}

struct archive_figures {
    std::size_t sessions = 0;
    std::uint64_t bytes = 0;
};

// A run with the program's archive and retention beside the recording, as the recorder runs
// them: the write thread makes room and wakes the archiver before each new session. What the
// archive made is taken out of the write path before the frames are counted.
std::pair<stored_figures, recording_figures> record_beside_archive(const peers& p,
                                                                   camera_device& camera,
                                                                   const std::string& write_path,
                                                                   int seconds) {
    const std::vector<std::string> backlog = make_backlog(write_path, seconds);
    // The depot's disk is not the car's: the server keeps its objects in memory.
    const temp_dir server_folder("/dev/shm/tresvik-depot");
    const s3_peer s3(server_folder.path());
    bench_events events;
    archive_figures archived;
    events.Bind(EVT_THREAD_ARCHIVE, [&](wxThreadEvent& event) {
        const auto report = event.GetPayload<archive_report>();
        archived.sessions += report.what == archive_report::kind::archived;
        archived.bytes += report.what == archive_report::kind::archived ? report.bytes : 0;
    });
    session_store sessions(write_path);
    recording_settings settings = settings_of(p, write_path);
    recording_figures recorded;
    {
        archive_runner archive(&events, sessions);
        archive_settings chosen;
        chosen.archive.root = chosen.retention.root = write_path;
        chosen.archive.remote = "depot:fleet";
        chosen.archive.car = "car";
        chosen.archive.rclone_config = s3.config();
        chosen.retention.goal = *parse_free_space("1%");
        archive.configure(chosen);
        settings.before_new_session = [&archive] { archive.before_new_session(); };
        recorded = record(events, settings, camera, p, seconds);
    }
    events.dispatch();
    for (const std::string& folder : backlog)
        std::filesystem::remove_all(folder);
    std::filesystem::remove_all(write_path + "/.archive");
    std::printf("archive beside it: %zu sessions, %.1f MB to s3rver in %.1f s (%.1f MB/s); "
                "backlog of %zu sessions\n",
                archived.sessions, double(archived.bytes) / 1e6, recorded.wall,
                double(archived.bytes) / 1e6 / recorded.wall, backlog.size());
    return {check_sessions(write_path), recorded};
}

double stored_share(const recording_figures& r, const stored_figures& s) {
    return r.delivered ? static_cast<double>(s.frames) / r.delivered : 0;
}

int run_beside_archive(int seconds) {
    const temp_dir folder;
    peers p(5);
    const std::unique_ptr<camera_layer> layer = open_factory();
    JAI_Camera camera(*layer, find_simulated_camera(*layer, 15s));
    std::printf("recording 1920x1200 Mono8 at 30 fps, odometer 1000 counts/s, a new session every "
                "5 s, for %d s without the archive, then as long with it\n",
                seconds);
    const std::string archived = folder.path() + "/archived";
    const auto [alone, alone_stored] =
        record_alone(p, camera.device(), folder.path() + "/plain", seconds);
    std::filesystem::create_directories(archived);
    const auto [beside_stored, beside] =
        record_beside_archive(p, camera.device(), archived, seconds);
    std::printf("recorded %.1f s beside the archive: delivered by the camera %llu, stored %llu in "
                "%zu session(s); keys holding a frame older than the key before: %llu\n",
                beside.wall, static_cast<unsigned long long>(beside.delivered),
                static_cast<unsigned long long>(beside_stored.frames), beside_stored.sessions,
                static_cast<unsigned long long>(beside_stored.older));
    std::printf("stored / delivered: %.4f without the archive, %.4f with it copying (goal >= "
                "0.99)\n",
                stored_share(alone, alone_stored), stored_share(beside, beside_stored));
    return stop_requested ? 1 : 0;
}

int run(int seconds) {
    if (with_archive)
        return run_beside_archive(seconds);
    const temp_dir folder;
    peers p;
    const std::unique_ptr<camera_layer> layer = open_factory();
    JAI_Camera camera(*layer, find_simulated_camera(*layer, 15s));
    std::printf("recording 1920x1200 Mono8 at 30 fps, odometer 1000 counts/s, for %d s\n", seconds);
    record_alone(p, camera.device(), folder.path() + "/sessions", seconds);
    print_camera_counters(p);
    return stop_requested ? 1 : 0;
}

} // namespace

// --archive and --lose-packets N are taken out here; the rest is the camera benchmarks' command
// line.
int main(int argc, char** argv) {
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i)
        if (i > 0 && std::string(argv[i]) == "--archive") {
            with_archive = true;
        } else if (i > 0 && std::string(argv[i]) == "--lose-packets") {
            unsigned per_thousand = 0;
            char extra = 0;
            if (i + 1 == argc || std::sscanf(argv[++i], "%u%c", &per_thousand, &extra) != 1 ||
                per_thousand > 1000) {
                std::fprintf(stderr, "--lose-packets takes a number from 0 to 1000\n");
                return 2;
            }
            lose_packets = per_thousand;
        } else {
            rest.push_back(argv[i]);
        }
    return camera_bench_main(static_cast<int>(rest.size()), rest.data(), "bench-record-e2e", run);
}
