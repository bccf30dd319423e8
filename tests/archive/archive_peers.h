#pragma once

// The archive's peers in tests: a real S3 server (s3rver, from npm) on a loopback port inside the
// test's network namespace, the real rclone, and the events the engine reports, kept for asserts.

#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "archive/archiver.h"
#include "harness/child_process.h"
#include "harness/temp_dir.h"

// The server keeps its objects in the folder across restarts, on the port it took first. The
// configuration file has the remotes "depot" (bucket "fleet" exists), "bad" (wrong credentials),
// "nobucket" (may not create buckets) and "down" (nothing listens).
class s3_peer {
public:
    explicit s3_peer(const std::string& folder) : folder_(folder) { start(); }

    void start() {
        server_ = std::make_unique<child_process>(
            std::vector<std::string>{S3RVER_PROGRAM, "-d", folder_, "-a", "127.0.0.1", "-p",
                                     std::to_string(port_), "--configure-bucket", "fleet"},
            child_setup{child_setup::errors_to_output, std::nullopt});
        const auto port = server_->line_after("listening on 127.0.0.1:");
        if (!port)
            throw std::runtime_error("s3rver did not start: " S3RVER_PROGRAM
                                     " (scripts/install.sh installs it)");
        port_ = std::stoi(*port);
        std::ofstream(config()) << remote("depot", "S3RVER", port_, "")
                                << remote("bad", "WRONG", port_, "")
                                << remote("nobucket", "S3RVER", port_, "no_check_bucket = true\n")
                                << remote("down", "S3RVER", 1, "");
    }
    void kill() { server_.reset(); }
    std::string config() const { return folder_ + "/rclone.conf"; }

    // The remote copy of a session, fetched by rclone into the folder.
    void download(const std::string& name, const std::string& into) const {
        const program_run run =
            run_program({"/usr/bin/env", "-u", "AWS_CA_BUNDLE", "rclone", "--config", config(),
                         "copy", "depot:fleet/car/" + name, into});
        if (run.exit_code != 0)
            throw std::runtime_error("rclone copy failed: " + run.out + run.err);
    }

private:
    static std::string remote(const std::string& name, const std::string& key, int port,
                              const std::string& more) {
        return "[" + name + "]\ntype = s3\nprovider = Other\naccess_key_id = " + key +
               "\nsecret_access_key = " + key +
               "\nendpoint = http://127.0.0.1:" + std::to_string(port) + "\n" + more;
    }

    std::string folder_;
    int port_ = 0;
    std::unique_ptr<child_process> server_;
};

// Everything reported, from whichever thread reports it; on_state runs on the reporting thread.
struct recorded_events : archive_events {
    void state_changed(const std::string& session, archive_state state, int percent) override {
        if (on_state)
            on_state(session, state, percent);
        note([&] { states.push_back({session, state, percent}); });
    }
    void archived(const std::string& session, std::uint64_t bytes, double rate) override {
        note([&] {
            archived_sessions.push_back(session + (bytes > 0 && rate > 0 ? "" : " empty"));
        });
    }
    void failed(const std::string& text) override {
        note([&] { failures.push_back(text); });
    }
    void deleted(const std::string& session, bool archived) override {
        note([&] { deletions.push_back(session + (archived ? "" : " unarchived")); });
    }
    void disk_full(std::uint64_t, std::uint64_t) override {
        note([&] { ++full; });
    }

    // True once the condition holds, checked under the lock; false after 60 s.
    bool wait_for(const std::function<bool()>& condition) {
        std::unique_lock guard(lock);
        return changed.wait_for(guard, std::chrono::seconds(60), condition);
    }

    struct state_report {
        std::string session;
        archive_state state;
        int percent;
    };
    std::function<void(const std::string&, archive_state, int)> on_state;
    std::mutex lock;
    std::condition_variable changed;
    std::vector<state_report> states;
    std::vector<std::string> archived_sessions, failures, deletions;
    int full = 0;

private:
    template <typename Change> void note(Change change) {
        const std::lock_guard<std::mutex> guard(lock);
        change();
        changed.notify_all();
    }
};
