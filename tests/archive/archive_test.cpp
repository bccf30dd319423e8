#include <csignal>
#include <filesystem>
#include <thread>

#include <gmock/gmock.h>

#include "archive/archive_disk.h"
#include "recording/session_store.h"
#include "tests/archive/archive_peers.h"
#include "tests/recording/raw_session.h"

namespace {
using testing::HasSubstr;
namespace fs = std::filesystem;

// A root of sessions, the S3 server and an archiver's options against it, with short waits.
struct archive_test : testing::Test {
    archive_test() {
        fs::create_directories(root);
        options.root = root;
        options.remote = "depot:fleet";
        options.car = "car";
        options.rclone_config = s3.config();
        options.statistics_interval = options.first_back_off = std::chrono::milliseconds(200);
        options.longest_back_off = std::chrono::milliseconds(800);
        options.rescan_interval = std::chrono::seconds(60);
    }
    std::string session(const std::string& name, const raw_entries& entries) {
        write_raw_session(root + "/" + name, entries);
        return root + "/" + name;
    }
    raw_entries remote_copy(const std::string& name) {
        const std::string into = scratch.path() + "/download " + std::to_string(++downloads);
        s3.download(name, into);
        return read_raw_session(into);
    }
    std::vector<std::string> archived_names() {
        std::vector<std::string> names;
        for (const auto& [name, record] : load_records(root))
            names.push_back(name);
        return names;
    }

    temp_dir scratch{"tresvik-archive"};
    std::string root = scratch.path() + "/sessions";
    s3_peer s3{scratch.path() + "/s3"};
    session_store store{root};
    recorded_events events;
    archive_options options;
    int downloads = 0;
};

} // namespace

// The copy on the remote opens with plain leveldb to exactly the session's keys and values; an
// edit makes it due again, a reader's open does not. Sessions in use here (viewed, recorded) wait,
// one deleted by hand while queued is passed over; all with AWS_CA_BUNDLE set, as on these
// machines.
TEST_F(archive_test, a_session_is_copied_checked_and_copied_again_after_an_edit) {
    setenv("AWS_CA_BUNDLE", "/etc/ssl/certs/ca-certificates.crt", 1);
    const std::string first = session("2021.03.04 12.05.33", recorded_session());
    auto viewed = store.open_reader(session("2021.03.05 08.00.00", recorded_session()));
    const std::string doomed = session("2021.03.06 08.00.00", recorded_session());
    store.current_session().open(root + "/2021.03.07 08.00.00");
    events.on_state = [&](const std::string&, archive_state state, int) {
        if (state == archive_state::copying)
            fs::remove_all(doomed);
    };
    archiver engine(options, store, events);
    EXPECT_EQ(engine.run_once(), archive_outcome::done);
    EXPECT_EQ(events.archived_sessions, std::vector<std::string>{"2021.03.04 12.05.33"});
    EXPECT_EQ(remote_copy("2021.03.04 12.05.33"), recorded_session());
    store.edit_session(first, [](session_writer& writer) { writer.set_side(L"правый"); });
    viewed.reset();
    EXPECT_EQ(engine.run_once(), archive_outcome::done);
    EXPECT_EQ(remote_copy("2021.03.04 12.05.33").at("side"), "правый");
    EXPECT_EQ(remote_copy("2021.03.05 08.00.00"), recorded_session());
    for (const std::string name : {"2021.03.04 12.05.33", "2021.03.05 08.00.00"})
        store.open_reader(root + "/" + name); // a reader's open leaves an archived copy as it was
    EXPECT_EQ(engine.run_once(), archive_outcome::done);
    EXPECT_THAT(
        events.archived_sessions,
        testing::ElementsAre("2021.03.04 12.05.33", "2021.03.04 12.05.33", "2021.03.05 08.00.00"));
    EXPECT_THAT(archived_names(),
                testing::ElementsAre("2021.03.04 12.05.33", "2021.03.05 08.00.00"));
    EXPECT_TRUE(events.failures.empty()) << events.failures.front();
    EXPECT_FALSE(fs::exists(staging_folder(root, "2021.03.04 12.05.33")));
}

// Each failure carries rclone's own message (or says rclone is missing) and marks nothing.
TEST_F(archive_test, a_failure_names_the_cause_and_marks_nothing) {
    unsetenv("AWS_CA_BUNDLE");
    session("2021.03.04 12.05.33", recorded_session());
    const struct {
        const char* remote;
        const char* rclone;
        const char* message;
    } cases[] = {{"bad:fleet", "rclone", "InvalidAccessKeyId"},
                 {"nobucket:missing", "rclone", "NoSuchBucket"},
                 {"down:fleet", "rclone", "connection refused"},
                 {"depot:fleet", "/usr/lib/no/rclone", "rclone is not installed"}};
    for (const auto& c : cases) {
        options.remote = c.remote;
        archive_seams seams;
        seams.rclone = c.rclone;
        archiver engine(options, store, events, seams);
        EXPECT_EQ(engine.run_once(), archive_outcome::failed) << c.remote;
        ASSERT_FALSE(events.failures.empty());
        EXPECT_THAT(events.failures.back(), HasSubstr(c.message));
        EXPECT_EQ(events.states.back().state, archive_state::failed);
        EXPECT_TRUE(archived_names().empty());
    }
}

// The server is down at the start, then killed in the middle of the upload: nothing is marked
// before a copy has been checked, and the session is copied again once the server is back. The
// session is about 3 MB, a few seconds at the server's 1 MB/s.
TEST_F(archive_test, a_server_down_or_killed_mid_upload_is_retried_until_the_copy_is_checked) {
    session("2021.03.04 12.05.33", noise_session(12));
    s3.kill();
    options.bandwidth_limit = "1M";
    archiver engine(options, store, events);
    std::thread running([&] { engine.run(); });
    const auto failures = [&](std::size_t count) {
        return events.wait_for([&] { return events.failures.size() >= count; });
    };
    EXPECT_TRUE(failures(1));
    s3.start();
    EXPECT_TRUE(events.wait_for(
        [&] { return !events.states.empty() && events.states.back().percent > 0; }));
    s3.kill();
    EXPECT_TRUE(failures(2));
    EXPECT_TRUE(archived_names().empty());
    s3.start();
    EXPECT_TRUE(events.wait_for([&] { return !events.archived_sessions.empty(); }));
    engine.stop();
    running.join();
    EXPECT_THAT(events.failures.front(), HasSubstr("connection refused"));
    EXPECT_EQ(remote_copy("2021.03.04 12.05.33"), noise_session(12));
    EXPECT_EQ(archived_names().size(), 1u);
}

// One archiver per root, the program and the tool alike: the tool says so and exits 1, or with
// --wait waits and then copies; retain --dry-run names what it would delete and deletes nothing.
TEST_F(archive_test, the_tool_archives_and_retains_with_one_archiver_per_root) {
    session("2021.03.04 12.05.33", recorded_session());
    archiver engine(options, store, events);
    std::thread running([&] { engine.run(); });
    EXPECT_TRUE(events.wait_for([&] { return !events.archived_sessions.empty(); }));
    std::vector<std::string> archive = {built_program("tresvik-db"),
                                        "archive",
                                        root,
                                        "--remote",
                                        "depot:fleet",
                                        "--car",
                                        "car",
                                        "--rclone-config",
                                        s3.config(),
                                        "--once"};
    const program_run refused = run_program(archive);
    EXPECT_EQ(refused.exit_code, 1);
    EXPECT_THAT(refused.err, HasSubstr("another archiver works on " + root));
    session("2021.03.05 08.00.00", recorded_session());
    archive.push_back("--wait");
    child_process waiting(archive);
    EXPECT_FALSE(waiting.line(std::chrono::milliseconds(500)));
    engine.stop();
    running.join();
    EXPECT_THAT(waiting.line_after("archived "),
                testing::Optional(testing::StartsWith("2021.03.05 08.00.00: ")));
    EXPECT_EQ(waiting.wait(), 0);
    const program_run dry = run_program(
        {built_program("tresvik-db"), "retain", root, "--min-free", "99.99%", "--dry-run"});
    EXPECT_EQ(dry.exit_code, 1);
    EXPECT_EQ(dry.err, "");
    EXPECT_THAT(dry.out, testing::StartsWith("would delete 2021.03.04 12.05.33\n"
                                             "would delete 2021.03.05 08.00.00\n"));
    EXPECT_EQ(scan_sessions(root).size(), 2u);
}
