// The archive's figures: what a car records in an hour at 1920 x 1200, 30 fps, JPEG quality 85;
// the archiver's throughput to a loopback S3 server (s3rver) beside a bare `rclone copy` of the
// same folders to the same server, in alternating rounds (goal: ratio at least 0.95); and one
// retention pass over 10,000 session folders with an injected free space (goal: under 1 s).
// Run inside scripts/isolated.sh, as make bench does.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include <opencv2/imgcodecs.hpp>

#include "archive/archive_disk.h"
#include "bench/session_bench_support.h"
#include "recording/session_store.h"
#include "tests/archive/archive_peers.h"

namespace {
namespace fs = std::filesystem;
constexpr int rows = 1200, cols = 1920, fps = 30;
constexpr int sessions = 2, frames_per_session = 1000, rounds = 6;

// Recorded as the write thread records: scene frames through the store's writer.
std::uint64_t record_sessions(const std::string& root) {
    std::vector<cv::Mat> frames;
    for (int i = 0; i < 8; ++i)
        frames.push_back(scene_frame(rows, cols, i * 150));
    for (int s = 0; s < sessions; ++s) {
        session_writer writer;
        writer.open(root + "/2021.03.0" + std::to_string(s + 1) + " 08.00.00");
        for (int f = 0; f < frames_per_session; ++f)
            writer.record_frame(frames[f % frames.size()], 100 + f);
    }
    std::uint64_t bytes = 0;
    for (const session_folder& folder : scan_sessions(root))
        for (const folder_file& file : folder_files(folder.path))
            bytes += file.size;
    return bytes;
}

double bare_copy(const s3_peer& s3, const std::string& root) {
    const auto start = std::chrono::steady_clock::now();
    for (const session_folder& folder : scan_sessions(root)) {
        const program_run run =
            run_program({"/usr/bin/env", "-u", "AWS_CA_BUNDLE", "rclone", "--config", s3.config(),
                         "copy", folder.path, "depot:fleet/car/" + folder.name});
        if (run.exit_code != 0)
            throw std::runtime_error("rclone copy failed: " + run.err);
    }
    return seconds_since(start);
}

double archive_copy(const s3_peer& s3, const std::string& root) {
    fs::remove(archive_folder(root) + "/state.json");
    session_store store(root);
    recorded_events events;
    archive_options options;
    options.root = root;
    options.remote = "depot:fleet";
    options.car = "car";
    options.rclone_config = s3.config();
    archiver engine(options, store, events);
    const auto start = std::chrono::steady_clock::now();
    if (engine.run_once() != archive_outcome::done || events.archived_sessions.size() != sessions)
        throw std::runtime_error("the archiver failed: " +
                                 (events.failures.empty() ? "" : events.failures.front()));
    return seconds_since(start);
}

// Each copy goes to a fresh server, the order changes every round, and the figure is the median
// of the rounds' ratios, so that neither side meets a fuller server or a busier machine (other
// work on the same cores) more often than the other.
void throughput(const std::string& scratch) {
    const std::string root = scratch + "/sessions";
    fs::create_directories(root);
    const std::uint64_t bytes = record_sessions(root);
    double seconds[2] = {0, 0};
    std::vector<double> ratios;
    for (int round = 0; round < rounds; ++round) {
        double taken[2] = {0, 0};
        for (const int side : {round % 2, 1 - round % 2}) {
            const temp_dir folder("tresvik-s3");
            const s3_peer s3(folder.path());
            taken[side] = side == 0 ? bare_copy(s3, root) : archive_copy(s3, root);
            seconds[side] += taken[side];
        }
        ratios.push_back(taken[0] / taken[1]);
    }
    const double megabytes = double(bytes) * rounds / 1e6;
    std::printf("archive: %d sessions, %.1f MB, %d rounds to s3rver on loopback\n", sessions,
                double(bytes) / 1e6, rounds);
    std::printf("  bare rclone copy: %.1f MB/s; archiver (snapshot, sync, check, state): %.1f "
                "MB/s\n",
                megabytes / seconds[0], megabytes / seconds[1]);
    std::printf("  ratio, median of the rounds: %.3f (rounds from %.3f to %.3f; goal at least "
                "0.95)\n",
                percentile(ratios, 0.5), percentile(ratios, 0), percentile(ratios, 1));
}

void bytes_per_hour() {
    std::uint64_t bytes = 0;
    const std::vector<int> parameters = {cv::IMWRITE_JPEG_QUALITY, 85};
    std::vector<uchar> jpeg;
    constexpr int frames = 60;
    for (int i = 0; i < frames; ++i) {
        cv::imencode(".jpeg", scene_frame(rows, cols, i * 40), jpeg, parameters);
        bytes += jpeg.size();
    }
    const double per_hour = double(bytes) / frames * fps * 3600;
    std::printf(
        "recording: %dx%d grey scene, %d fps, JPEG quality 85: %.0f KB a frame, %.1f GB an hour\n",
        cols, rows, fps, double(bytes) / frames / 1e3, per_hour / 1e9);
}

// 10,000 folders as the recorder leaves them (a database's small files), all archived; the
// injected free space rises by a tenth of a percent with each deletion, so 1,000 of them go.
void retention_pass(const std::string& scratch) {
    constexpr int folders = 10'000;
    const std::string root = scratch + "/many";
    archive_records records;
    for (int n = 0; n < folders; ++n) {
        const std::string name = "2021.03.04 " + std::to_string(100000 + n);
        const fs::path folder = fs::path(root) / name;
        fs::create_directories(folder);
        std::ofstream(folder / "CURRENT") << "MANIFEST-000002\n";
        std::ofstream(folder / "MANIFEST-000002") << "manifest";
        std::ofstream(folder / "000005.ldb") << "table";
        std::ofstream(folder / "000006.log");
        records[name] = {fingerprint_of(folder_files(folder.string())), "depot:fleet/car/" + name};
    }
    save_records(root, records);
    ::sync(); // a car's folders were written long before; their write-back is no part of a pass
    session_store store(root);
    recorded_events events;
    std::uint64_t deleted = 0;
    archive_seams seams;
    seams.space = [&](const std::string&) {
        return volume_space{50'000 + deleted++ * 100, 1'000'000};
    };
    retention pass(store, events, seams);
    const auto start = std::chrono::steady_clock::now();
    const retention_result result = pass.pass({root, *parse_free_space("15%"), false, false});
    const double seconds = seconds_since(start);
    std::printf("retention: one pass over %d folders, %zu deleted, %.3f s (goal under 1 s)\n",
                folders, result.deleted.size(), seconds);
}
} // namespace

int main() {
    const temp_dir scratch("tresvik-archive-bench");
    bytes_per_hour();
    throughput(scratch.path());
    retention_pass(scratch.path());
}
