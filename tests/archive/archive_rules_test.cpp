#include "archive/archive_rules.h"

#include <gtest/gtest.h>

// A snapshot links the tables, copies what the engine rewrites, and leaves its lock and text
// logs; the fingerprint holds only what an edit changes.
TEST(archive_rules, snapshot_parts_and_fingerprint) {
    const std::vector<std::pair<const char*, snapshot_part>> parts = {
        {"000005.ldb", snapshot_part::link}, {"000007.sst", snapshot_part::link},
        {"CURRENT", snapshot_part::copy},    {"MANIFEST-000004", snapshot_part::copy},
        {"000006.log", snapshot_part::copy}, {"LOCK", snapshot_part::leave},
        {"LOG", snapshot_part::leave},       {"LOG.old", snapshot_part::leave},
        {"notes.txt", snapshot_part::leave}, {"CURRENT.bak", snapshot_part::leave}};
    for (const auto& [name, part] : parts)
        EXPECT_EQ(snapshot_part_of(name), part) << name;
    const folder_fingerprint print = fingerprint_of({{"MANIFEST-000004", 50},
                                                     {"000009.log", 0},
                                                     {"000008.log", 70},
                                                     {"000005.ldb", 4000},
                                                     {"LOCK", 0},
                                                     {"CURRENT", 16}});
    EXPECT_EQ(print, (folder_fingerprint{{"000005.ldb", 4000}, {"000008.log", 70}}));
}

// The state file round-trips; a damaged one is refused, never half read.
TEST(archive_rules, state_text_round_trips_and_damage_is_refused) {
    const archive_records records = {
        {"2021.03.04 12.05.33", {{{"000005.ldb", 4000}}, "depot:fleet/car 7/2021.03.04 12.05.33"}},
        {"правый", {{}, "/mnt/depot/car/правый"}}};
    const archive_records read = parse_records(records_text(records));
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read.at("2021.03.04 12.05.33").fingerprint,
              records.at("2021.03.04 12.05.33").fingerprint);
    EXPECT_EQ(read.at("правый").destination, "/mnt/depot/car/правый");
    for (const char* damaged : {"", "{\"version\": 1, \"sessions\": {\"a\": {\"files\": []}}}",
                                "{\"version\": 2, \"sessions\": {}}", "{\"version\": 1, \"sess"})
        EXPECT_THROW(parse_records(damaged), std::runtime_error) << damaged;
    EXPECT_EQ(remote_destination("depot:fleet", "car", "s"), "depot:fleet/car/s");
    EXPECT_EQ(remote_destination("depot:", "car", "s"), "depot:car/s");
    EXPECT_EQ(remote_destination("/mnt/depot/", "car", "s"), "/mnt/depot/car/s");
}

// Statistics give rclone's own percent; an error record, a plain line before logging and the
// cause on the line after it give the failure's text; anything else says nothing.
TEST(archive_rules, rclone_lines) {
    const struct {
        const char* line;
        std::optional<int> percent;
        const char* error;
        const char* cause;
    } lines[] = {
        {R"({"level":"warning","msg":"x","stats":{"bytes":1077251,"totalBytes":3000003}})", 35, "",
         ""},
        {R"({"level":"warning","stats":{"bytes":0,"totalBytes":0}})", 0, "", ""},
        {R"({"level":"error","msg":"Failed to copy: NoSuchBucket: The specified bucket does not exist\n\tstatus code: 404, request id: 7","object":"CURRENT"})",
         std::nullopt, "CURRENT: Failed to copy: NoSuchBucket: The specified bucket does not exist",
         ""},
        {R"({"level":"error","msg":"error reading: RequestError: send request failed\ncaused by: Get \"http://h/\": connection refused"})",
         std::nullopt,
         "error reading: RequestError: send request failed (Get \"http://h/\": connection refused)",
         ""},
        {"2026/12/07 06:04:23 Failed to create file system for \"depot:f\": "
         "LoadCustomCABundleError",
         std::nullopt, "Failed to create file system for \"depot:f\": LoadCustomCABundleError", ""},
        {"caused by: unsupported transport, *fshttp.Transport", std::nullopt, "",
         "unsupported transport, *fshttp.Transport"},
        {R"({"level":"warning","msg":"2 matching files"})", std::nullopt, "", ""},
        {"\tstatus code: 403, request id: , host id: ", std::nullopt, "", ""},
        {"{\"level\":\"error\"", std::nullopt, "", ""},
    };
    for (const auto& l : lines) {
        const rclone_line read = read_rclone_line(l.line);
        EXPECT_EQ(read.percent, l.percent) << l.line;
        EXPECT_EQ(read.error, l.error) << l.line;
        EXPECT_EQ(read.cause, l.cause) << l.line;
    }
}

// Archived sessions go first, oldest first; unarchived ones only with loop recording; one in use
// never.
TEST(archive_rules, deletion_order) {
    const std::vector<retention_folder> folders = {{false, false}, {true, true},  {true, false},
                                                   {false, true},  {true, false}, {false, false}};
    EXPECT_EQ(deletion_order(folders, false), (std::vector<std::size_t>{2, 4}));
    EXPECT_EQ(deletion_order(folders, true), (std::vector<std::size_t>{2, 4, 0, 5}));
    EXPECT_TRUE(deletion_order({{false, false}}, false).empty());
}
