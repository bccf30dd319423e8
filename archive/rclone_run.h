#pragma once

// Internal to the archive: rclone run as a child process with the settings' configuration file,
// JSON logging, and the machine's trust of AWS_CA_BUNDLE handed over as --ca-cert.

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

struct rclone_setup {
    std::string program; // a path, or a name looked up in PATH
    std::string config;
    std::string bandwidth_limit; // empty: none
    std::chrono::milliseconds statistics_interval{1000};
};

struct rclone_result {
    bool ok = false;
    bool stopped = false; // killed because the archiver stops
    std::string error;    // rclone's last error when it failed
};

// "sync" from the folder to the destination, with statistics each interval: percent receives
// rclone's own figure of bytes transferred.
rclone_result rclone_sync(const rclone_setup& setup, const std::string& folder,
                          const std::string& destination,
                          const std::function<void(int percent)>& percent,
                          const std::atomic<bool>& stopping);
// "check --one-way --size-only": every file of the folder is on the destination with its size.
// The hashes were compared by the sync, file by file as each arrived (rclone's own check after a
// transfer, where the backend keeps one); reading every byte again would cost a fifth of the
// throughput and check nothing new.
rclone_result rclone_check(const rclone_setup& setup, const std::string& folder,
                           const std::string& destination, const std::atomic<bool>& stopping);
