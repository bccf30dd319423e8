#include "recording/session_store.h"

#include <atomic>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <random>
#include <sys/wait.h>
#include <thread>

#include <gmock/gmock.h>
#include <opencv2/core.hpp>

#include "base/encoding.h"
#include "harness/child_process.h"
#include "recording/recording_step.h"
#include "recording/session_format.h"
#include "tests/recording/raw_session.h"
#include "tests/recording/test_disk.h"
#include "tests/support/event_recorder.h"
#include "tests/support/temp_home.h"

// Session databases: the byte layout, the writer, the reader and the store, checked against the
// entries another program reads with plain leveldb; the store's sessions under threads.
using testing::HasSubstr;

namespace {
struct session_db_test : testing::Test {
    session_db_test() {
        setenv("TZ", "UTC", 1);
        tzset();
    }

    // A session with one frame per DPP, each frame seeded by its DPP.
    std::string add_session(const std::string& name, const std::string& code,
                            std::initializer_list<std::uint32_t> dpps) {
        raw_entries entries = {{"session", code}, {"version", "1"}};
        for (std::uint32_t dpp : dpps)
            entries[frame_key(dpp)] = jpeg_of(test_frame(dpp));
        entries["dpp_start"] = frame_key(*dpps.begin());
        entries["dpp_end"] = frame_key(*(dpps.end() - 1));
        write_raw_session(folder(name), entries);
        return folder(name);
    }
    std::string folder(const std::string& name) const { return root.path() + "/" + name; }

    temp_dir root;
    session_store store{root.path()};
    std::vector<std::string> errors;
    session_error_sink collect = [this](const std::string& e) { errors.push_back(e); };
    std::string path = folder("2021.03.04 12.05.33");
    // Each reading of the clock gives the next second, so that tests see which reading was stored.
    std::int64_t next_second = 1614859533;
    session_clock clock = [this] { return next_second++; };
};

struct step_fixture : session_db_test {
    event_recorder owner;
    test_disk disk;
    session_writer session{system_unix_seconds, &disk};
    // The camera's newest frame, set by the test; each new frame gets the next timestamp.
    // Snapshots hand over as the frame buffer does: only a frame the recorder does not know yet.
    shared_frame image = std::make_shared<const cv::Mat>();
    std::uint64_t timestamp = 0;
    int handovers = 0;
    count_intake intake{&owner, session, [this](shared_frame& frame, std::uint64_t known) {
                            handovers += timestamp != known;
                            if (timestamp != known)
                                frame = image;
                            return timestamp;
                        }};
    recording_step step{&owner, session, root.path(), [] { return *std::gmtime(&session_start); }};

    // A count as the write thread's two halves take it, the write thread's at once.
    void take(std::uint32_t value, int kind) {
        if (auto work = intake.take(value, kind)) {
            step.store(*work);
            if (work->frame)
                intake.frame_done();
        }
    }
    static constexpr std::time_t session_start = 1614859533; // 2021.03.04 12.05.33 UTC
    void next_frame(int grey) {
        image = std::make_shared<const cv::Mat>(8, 8, CV_8UC1, cv::Scalar(grey));
        ++timestamp;
    }
    // The range of the session folder with this suffix as the store reads it, repaired when its
    // writer could not end it.
    std::pair<std::string, std::string> range(const std::string& suffix) {
        const auto reader = store.open_reader(path + suffix);
        return {frame_key(reader->dpp_start()), frame_key(reader->dpp_end())};
    }
    std::wstring status() {
        intake.post_held_status();
        return owner.texts(EVT_THREAD_RECORD_STATUS).back().ToStdWstring();
    }
};
} // namespace

// Frame lookups rely on every ten-digit frame key sorting before the metadata keys, which keep
// this order among themselves.
TEST(session_format, keys_numbers_and_texts_as_stored) {
    const std::vector<std::string_view> metadata = {key_dpp_end,    key_dpp_start, key_orientation,
                                                    key_session,    key_side,      key_time_end,
                                                    key_time_start, key_version};
    EXPECT_TRUE(std::is_sorted(metadata.begin(), metadata.end()));
    for (std::string_view key : metadata)
        EXPECT_FALSE(is_frame_key(key)) << key;
    for (const std::uint32_t dpp : {0u, 1500u, 4294967295u}) {
        const std::string key = frame_key(dpp);
        EXPECT_EQ(key, (std::ostringstream() << std::setw(10) << std::setfill('0') << dpp).str());
        EXPECT_TRUE(is_frame_key(key) && key < metadata.front() && !is_frame_key(key + "0"));
    }
    // Stored DPPs take a sign ('-' negates modulo 2^32). Times are signed 64-bit seconds. Bytes
    // that do not decode in the locale's encoding (the texts are stored in it) survive a round
    // trip as U+DC00 + byte.
    const std::pair<const char*, std::uint32_t> stored[] = {{"0000001500", 1500},
                                                            {"4294967295", 4294967295u},
                                                            {"+7", 7},
                                                            {"-1", 4294967295u},
                                                            {"-4294967295", 1}};
    for (const auto& [text, dpp] : stored)
        EXPECT_EQ(parse_dpp(text), dpp) << text;
    for (const char* text : {"4294967296", "-4294967296", "", "+-1", "12a"})
        EXPECT_THROW(parse_dpp(text), std::invalid_argument) << text;
    EXPECT_EQ(format_unix_seconds(-5), "-5");
    EXPECT_EQ(parse_unix_seconds("+5"), 5);
    for (const char* text :
         {"", "-", "1e3", "12:00", "9223372036854775808", "-9223372036854775809"})
        EXPECT_THROW(parse_unix_seconds(text), std::invalid_argument) << text;
    const std::string bytes("\xff\xfe ok \xd0\x00z\xd0", 10);
    EXPECT_EQ(wide_text(bytes).substr(0, 2), (std::wstring{wchar_t(0xDCFF), wchar_t(0xDCFE)}));
}

// A decoder allocates what a value declares before it reads a pixel: only a JPEG whose frame
// header can be read and declares no more than a camera gives reaches it. The walk to the header
// takes fill bytes as the decoder does and refuses a second header, which could declare more.
TEST(session_format, only_a_jpeg_of_a_size_a_camera_gives_is_decoded) {
    const std::string small = jpeg_of(test_frame(1, 48, 64)), huge = jpeg_declaring(32000, 32000);
    const std::size_t header = small.find("\xff\xc0"), header_end = header + 13; // grey
    using size = std::optional<std::pair<int, int>>;
    const std::tuple<std::string, size, std::string> cases[] = {
        {small, size({64, 48}), ""},
        {small.substr(0, 2) + "\xff" + small.substr(2), size({64, 48}), ""},
        {jpeg_of(test_frame(1, 8, max_frame_side)), size({8192, 8}), ""},
        {jpeg_of(test_frame(1, 8193, 8)), size({8, 8193}),
         "it declares 8 x 8193 pixels, more than a camera gives (8192 x 8192)"},
        {huge, size({32000, 32000}), "it declares 32000 x 32000 pixels"},
        {small.substr(0, header_end) + huge.substr(header, 13) + small.substr(header_end),
         std::nullopt, "no readable JPEG header"},
        {small.substr(0, header + 6), std::nullopt, "no readable JPEG header"},
        {small.substr(0, 2) + "x" + small.substr(2), std::nullopt, "no readable JPEG header"},
        {jpeg_declaring(64, 0), std::nullopt, "no readable JPEG header"},
        {"GIF89a", std::nullopt, "no readable JPEG header"},
    };
    for (const auto& [bytes, expected, refused] : cases) {
        const std::optional<frame_size> declared = declared_jpeg_size(bytes);
        EXPECT_EQ(declared ? size({declared->width, declared->height}) : std::nullopt, expected);
        const decoded_frame frame = decode_stored_frame(bytes, cv::IMREAD_COLOR);
        EXPECT_THAT(frame.refused, testing::StartsWith(refused)) << expected.has_value();
        EXPECT_EQ(frame.image.empty(), !refused.empty()) << frame.refused;
    }
}

// A reopen (the database list edits a session so) rewrites only the version and starts the range
// anew with the next frame. Reads while recording are the data service's.
TEST_F(session_db_test, a_session_holds_what_was_recorded_and_nothing_else) {
    session_writer writer(clock);
    writer.open(path);
    writer.record_frame(test_frame(1), 100);
    writer.record_frame(test_frame(2), 100);
    writer.record_frame(test_frame(3), 250);
    writer.set_side(L"левый");
    EXPECT_EQ(writer.frames_written(), 3u);
    writer.close();
    EXPECT_THROW(writer.record_frame(test_frame(1), 1), std::runtime_error) << "not open";
    EXPECT_THROW(writer.set_side(L"левый"), std::runtime_error);
    EXPECT_FALSE(writer.read_current_frame(100)) << "closed";
    raw_entries expected = {{"0000000100", jpeg_of(test_frame(2))},
                            {"0000000250", jpeg_of(test_frame(3))},
                            {"dpp_end", "0000000250"},
                            {"dpp_start", "0000000100"},
                            {"side", "\xd0\xbb\xd0\xb5\xd0\xb2\xd1\x8b\xd0\xb9"},
                            {"time_end", "1614859535"},
                            {"time_start", "1614859533"},
                            {"version", "1"}};
    EXPECT_TRUE(read_raw_session(path) == expected);

    write_raw_session(path, {{"version", "0"}});
    writer.open(path);
    EXPECT_EQ(writer.session_code(), L"") << "a missing code, not the next key's value";
    writer.record_frame(test_frame(5), 40);
    writer.close();
    expected["0000000040"] = jpeg_of(test_frame(5));
    expected["dpp_start"] = expected["dpp_end"] = "0000000040";
    expected["time_start"] = expected["time_end"] = "1614859537"; // the refused one read it too
    EXPECT_TRUE(read_raw_session(path) == expected);
}

// Values reach the disk once, in synced tables, never through the engine's log; what waited a
// second for a table is in one. A full disk fails the table the flusher writes, losing the values
// that waited for it; every write after that is refused, and the next open ends the range at the
// newest frame on the disk.
TEST_F(session_db_test, values_reach_the_disk_in_tables_and_a_full_disk_loses_only_the_buffer) {
    using namespace std::chrono_literals;
    test_disk disk;
    session_writer writer(clock, &disk);
    writer.open(path);
    const int after_open = disk.log_writes();
    for (int reply = 0; reply < 10; ++reply) {
        writer.set_session_code(L"A7 : 5");
        writer.set_orientation(L"-1");
    }
    EXPECT_EQ(disk.log_writes() - after_open, 2) << "a value stored since the open is not again";
    writer.set_orientation(L"1");
    EXPECT_EQ(disk.log_writes() - after_open, 3);
    for (std::uint32_t dpp = 1; dpp <= 20; ++dpp)
        writer.record_frame(test_frame(dpp), dpp);
    const auto written = std::chrono::steady_clock::now();
    while (disk.table_syncs() == 0 && std::chrono::steady_clock::now() < written + 10s)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(disk.table_syncs(), 1) << "one table for what waited a second";
    std::uintmax_t logged = 0;
    for (const auto& file : std::filesystem::directory_iterator(path))
        logged += file.path().extension() == ".log" ? file.file_size() : 0;
    EXPECT_EQ(logged, 0u) << "nothing in the engine's log";
    disk.fill(jpeg_of(test_frame(21)).size());
    std::uint32_t refused = 21;
    const auto record_until_refused = [&] {
        for (; refused < 1000; ++refused) {
            writer.record_frame(test_frame(refused), refused);
            std::this_thread::sleep_for(20ms);
        }
    };
    EXPECT_THAT(record_until_refused,
                testing::ThrowsMessage<std::runtime_error>(HasSubstr("No space left on device")));
    writer.close();
    const raw_entries stored = read_raw_session(path);
    for (std::uint32_t dpp = 1; dpp <= 20; ++dpp)
        EXPECT_EQ(stored.at(frame_key(dpp)), jpeg_of(test_frame(dpp))) << dpp;
    EXPECT_EQ(stored.count(frame_key(21)), 0u) << "lost with the table that failed";
    EXPECT_EQ(store.open_reader(path)->dpp_end(), 20u);
    disk.free_space();
    writer.open(path);
    const int after_reopen = disk.log_writes();
    writer.set_orientation(L"1");
    EXPECT_EQ(disk.log_writes() - after_reopen, 1) << "a new open forgets what was stored";
}

// Run by the test below in a process of its own: records into the folder it is given, a frame
// every 10 ms, and prints each DPP once its record_frame has returned, until it is killed or its
// reader has gone.
TEST(DISABLED_session_recorder, records_until_killed) {
    session_writer writer;
    writer.open(std::getenv("TRESVIK_RECORD_INTO"));
    for (std::uint32_t dpp = 1; dpp < 100000; ++dpp) {
        writer.record_frame(test_frame(dpp), dpp);
        std::printf("%u\n", dpp);
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// A recorder killed at any moment loses at most about the last second: every frame whose
// record_frame returned two seconds before the kill (the flusher's second, and another for the
// table's writing on a loaded machine) is stored. It leaves its range open ("dpp_end" is stored at
// the close only); the index ends it, or one that ends before its newest frame, at the newest
// frame, with the time of the last write, and says so.
TEST_F(session_db_test,
       sigkill_while_recording_loses_at_most_the_last_second_and_the_index_repairs) {
    using clock_type = std::chrono::steady_clock;
    std::mt19937 random(std::random_device{}());
    std::map<std::string, std::uint32_t> newest; // folder: the last frame reported stored
    const std::int64_t before = system_unix_seconds();
    for (int round = 0; round < 2; ++round) {
        const std::string killed = folder("killed " + std::to_string(round));
        setenv("TRESVIK_RECORD_INTO", killed.c_str(), 1);
        child_process recorder({"/proc/self/exe", "--gtest_also_run_disabled_tests",
                                "--gtest_filter=DISABLED_session_recorder.*"});
        const auto kill_at =
            clock_type::now() +
            std::chrono::milliseconds(std::uniform_int_distribution(2500, 4000)(random));
        std::vector<std::uint32_t> old_enough; // returned two seconds before the kill
        for (std::optional<std::string> line;
             clock_type::now() < kill_at && (line = recorder.line());)
            if (!line->empty() && std::isdigit(static_cast<unsigned char>(line->front())) &&
                clock_type::now() < kill_at - std::chrono::seconds(2))
                old_enough.push_back(static_cast<std::uint32_t>(std::stoul(*line)));
        recorder.signal(SIGKILL);
        ASSERT_TRUE(WIFSIGNALED(recorder.wait())) << "the recorder ended by itself";
        ASSERT_FALSE(old_enough.empty());
        const raw_entries stored = read_raw_session(killed);
        for (std::uint32_t dpp : old_enough) {
            const auto frame = stored.find(frame_key(dpp));
            EXPECT_TRUE(frame != stored.end() &&
                        frame->second == jpeg_of(test_frame(dpp)))
                << "lost frame " << dpp;
        }
        EXPECT_EQ(stored.at("dpp_start"), frame_key(1));
        EXPECT_EQ(stored.count("dpp_end") + stored.count("time_end"), 0u);
        newest[killed] = parse_dpp(std::prev(stored.lower_bound("a"))->first); // the last frame
    }
    write_raw_session(add_session("stale", "A : 1", {10, 20}), {{"dpp_end", frame_key(10)}});
    newest[folder("stale")] = 20;
    store.refresh_session_index(collect);
    EXPECT_THAT(errors, testing::Each(HasSubstr("was not closed by its recorder")));
    EXPECT_EQ(errors.size(), 3u);
    for (const session_index_entry& entry : store.entries()) {
        EXPECT_EQ(entry.info.dpp_end, newest.at(entry.path));
        const raw_entries repaired = read_raw_session(entry.path);
        EXPECT_THAT(parse_unix_seconds(repaired.at("time_end")),
                    testing::AllOf(testing::Ge(before), testing::Le(system_unix_seconds())));
    }
    store.refresh_session_index(collect);
    EXPECT_EQ(errors.size(), 3u) << "repaired once";
}

// Each missing key reads as missing, never as the value of the key that follows it; frames come
// at or after the DPP, passing over keys that are no frame keys; a value that is no JPEG comes as
// an empty image.
TEST_F(session_db_test, info_and_frames_of_a_full_and_a_sparse_session) {
    raw_entries full = recorded_session();
    full["0000000250"] = "\xff\xd8\xff truncated";
    full["00000001500"] = full["0000000301x"] = jpeg_of(test_frame(7)); // no frame keys
    write_raw_session(folder("full"), full);
    const auto reader = store.open_reader(folder("full"));
    const session_info info = reader->info();
    EXPECT_EQ(std::tie(info.session_code, info.orientation, info.side, info.start_time,
                       info.end_time, info.version),
              std::make_tuple(L"A7 : 12", L"-90", L"левый", L"2021-03-04 12:05:33",
                              L"2021-03-04 12:06:40", L"1"));
    EXPECT_EQ(std::make_tuple(info.dpp_start, info.dpp_end, info.has_frames, reader->dpp_end()),
              std::make_tuple(100u, 300u, true, 300u));
    EXPECT_GT(info.size, 0u);
    frame_cursor frames = reader->frames();
    const std::uint32_t dpps[] = {0, 101, 201, 300, 301}, seeds[] = {100, 200, 0, 300, 0};
    for (int i = 0; i < 5; ++i) { // seed 0: an empty image (no JPEG at 250, no frame after 300)
        frames.seek(dpps[i]);
        const cv::Mat expected = seeds[i] ? decoded(jpeg_of(test_frame(seeds[i]))) : cv::Mat();
        EXPECT_TRUE(same_image(frames.frame(), expected)) << dpps[i];
    }

    // Times past the platform's last date (the last one, a second later) show as stored.
    write_raw_session(folder("sparse"), {{"orientation", "90"},
                                         {"time_end", "+67768036191676800"},
                                         {"time_start", "67768036191676799"},
                                         {"zz-foreign", "1614859533"}});
    const session_info sparse = store.open_reader(folder("sparse"))->info();
    EXPECT_EQ(std::tie(sparse.session_code, sparse.side, sparse.start_time, sparse.end_time,
                       sparse.version),
              std::make_tuple(no_data_text, L"нет данных", L"2147485547-12-31 23:59:59",
                              L"+67768036191676800", L""));
    EXPECT_EQ(std::tie(sparse.dpp_start, sparse.dpp_end, sparse.size, sparse.has_frames),
              std::make_tuple(missing_dpp, missing_dpp, std::uint64_t{0}, false));
}

// The default database root is the home folder: its ordinary folders must come out untouched, and
// a folder that another program records into is refused with the engine's lock status. Hidden
// entries and files are passed over; a root that cannot be listed gives an empty index. The first
// session in the index with exactly the code whose range holds the DPP gives its frame at or after
// the DPP; nothing comes for an unknown code, a DPP outside every range or a session without
// frames.
TEST_F(session_db_test, the_index_lists_sessions_reports_other_folders_and_serves_frames) {
    write_raw_session(folder("a"), {{"session", "A : 1"}, {"version", "1"}});
    add_session("b", "A : 1", {100, 200});
    add_session("c", "A : 1", {210, 300});
    add_session("d", "A : 1", {4294967295u});
    write_raw_session(folder("e"), {{"0000000010", "GIF89a"},
                                    {"dpp_end", "0000000010"},
                                    {"dpp_start", "0000000010"},
                                    {"session", "B : 1"}});
    std::filesystem::create_directory(folder("notes"));
    std::ofstream(folder("notes/LOG")) << "the operator's own notes";
    write_raw_session(folder("damaged"), {{"dpp_start", "левый"}});
    session_writer recorder;
    recorder.open(add_session("held", "B : 1", {5}));
    add_session(".hidden", "C : 1", {1});
    std::ofstream(folder("readme.txt")) << "not a folder";

    store.refresh_session_index(collect);
    EXPECT_EQ(store.entries().size(), 5u) << "a to e";
    std::sort(errors.begin(), errors.end());
    const auto unreadable = [this](const char* name, const std::string& why) {
        return testing::StartsWith("Session folder " + folder(name) + " cannot be read: " + why);
    };
    EXPECT_THAT(errors, testing::ElementsAre(unreadable("damaged", "\"dpp_start\" is not"),
                                             unreadable("held", "IO error: lock"),
                                             unreadable("notes", "Invalid argument")));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder("notes")), {}), 1);
    const std::tuple<std::wstring, std::uint32_t, std::optional<std::string>> cases[] = {
        {L"A : 1", 100, jpeg_of(test_frame(100))},
        {L"A : 1", 150, jpeg_of(test_frame(200))},
        {L"A : 1", 250, jpeg_of(test_frame(300))},
        {L"A : 1", 4294967295u, jpeg_of(test_frame(4294967295u))},
        {L"B : 1", 10, "GIF89a"},
        {L"A : 1", 99, std::nullopt},
        {L"a : 1", 150, std::nullopt},
        {L"A : 1 ", 150, std::nullopt},
    };
    for (const auto& [code, dpp, expected] : cases)
        EXPECT_EQ(store.read_indexed_frame(code, dpp), expected) << dpp;

    for (const std::string& other : {std::string(), folder("missing"), folder("notes")}) {
        store.set_root(other);
        store.refresh_session_index(collect);
        EXPECT_TRUE(store.entries().empty()) << other;
    }
    EXPECT_EQ(errors.size(), 3u) << "none from the other roots";
    // The picture is black but for the request written at its top left.
    const cv::Mat image = not_found_image(1500);
    EXPECT_GT(cv::countNonZero(image(cv::Rect(10, 0, 400, 25))), 100);
    EXPECT_EQ(cv::countNonZero(image), cv::countNonZero(image(cv::Rect(10, 0, 400, 25))));
    EXPECT_FALSE(same_image(image, not_found_image(1501)));
    EXPECT_FALSE(same_image(image, not_found_image(L"A : 1", 1500)));
}

// Whoever would open a session beside its user is refused with the reason; deleting or handing out
// also waits until the data service has not read it for a while, while the viewer and edits take
// its idle handle over. Nobody opens a held folder, which stays as it was; once the users have gone
// everything may be done again.
TEST_F(session_db_test, a_session_in_use_is_refused_with_the_reason_and_a_hold_keeps_all_out) {
    const std::string a = add_session("a", "A : 1", {100}), b = add_session("b", "B : 1", {200});
    store.refresh_session_index(collect);
    store.current_session().open(folder("live"));
    EXPECT_EQ(store.in_use(folder("live") + "/"), "it is being recorded");
    ASSERT_TRUE(store.read_indexed_frame(L"A : 1", 100));
    EXPECT_EQ(store.in_use(a), "the data service reads it");
    EXPECT_THROW(store.delete_session(a), session_refused);
    auto reader = store.open_reader(root.path() + "//a");
    EXPECT_THROW(store.read_indexed_frame(L"A : 1", 100), session_refused);
    reader.reset();
    const auto untouched = std::filesystem::last_write_time(b);
    std::optional<session_hold> hold(store.hold(b));
    EXPECT_EQ(store.in_use(b), "it is held for copying");
    EXPECT_THROW(store.open_reader(b), session_refused);
    EXPECT_THROW(store.edit_session(b, [](session_writer&) {}), session_refused);
    store.refresh_session_index(collect);
    EXPECT_EQ(store.entries().size(), 2u) << "a held session keeps its entry";
    EXPECT_EQ(errors, std::vector<std::string>{"Session folder " + folder("live") +
                                               " is in use: it is being recorded."});
    EXPECT_EQ(std::filesystem::last_write_time(b), untouched) << "nobody opened the held folder";
    hold.reset();
    EXPECT_EQ(store.read_indexed_frame(L"B : 1", 200), jpeg_of(test_frame(200)));
    store.edit_session(b, [](session_writer& writer) { writer.set_side(L"правый"); });
    for (const std::string& path : {a, b})
        EXPECT_THAT(store.delete_session(path), testing::IsEmpty()) << path;
    EXPECT_TRUE(store.entries().empty() && std::filesystem::exists(folder("live")));
}

// The write thread records while data-service threads read the live session and an indexed one,
// the session is closed and reopened under them, and the viewer, the index and the idle closing
// take the indexed session's handle from under them; no handle may go while a read is inside it.
TEST_F(session_db_test, the_stores_sessions_are_recorded_read_and_taken_over_concurrently) {
    const std::string indexed = add_session("indexed", "A : 1", {100});
    store.refresh_session_index(collect);
    session_writer& current = store.current_session();
    std::atomic<bool> stop{false};
    std::atomic<int> recorded{0}, served{0}, odd{0};
    current.open(path);
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        for (std::uint32_t dpp = 1; !stop; ++dpp)
            try { // closed between two frames, the session takes frames again once reopened
                current.record_frame(test_frame(1), dpp);
                ++recorded;
            } catch (const std::runtime_error&) {
            }
    });
    const std::string live_frame = jpeg_of(test_frame(1)), stored = jpeg_of(test_frame(100));
    for (std::uint32_t first = 0; first < 3; ++first)
        threads.emplace_back([&, first] {
            for (std::uint32_t dpp = first; !stop; dpp += 7, ++served) {
                const auto live = current.read_current_frame(dpp % 500);
                odd += live && *live != live_frame;
                try { // refused while the viewer has it
                    odd += store.read_indexed_frame(L"A : 1", 100) != stored;
                } catch (const session_refused&) {
                }
            }
        });
    for (int cycle = 0; cycle < 20; ++cycle) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        current.close();
        current.open(path);
        store.open_reader(indexed).reset();
        store.refresh_session_index(collect);
        store.close_idle_handles();
    }
    stop = true;
    for (std::thread& thread : threads)
        thread.join();
    current.close();
    EXPECT_THAT((std::vector{recorded.load(), served.load()}), testing::Each(testing::Gt(0)));
    EXPECT_EQ(odd.load(), 0);
    EXPECT_THAT(errors, testing::Each(HasSubstr("is in use: it is being recorded")));
    EXPECT_EQ(read_raw_session(path).at("version"), "1");
}

// Counts come far more often than frames: each frame is copied out of the camera's buffer and
// stored once, however many counts find it. A session opens with the first count even before a
// frame, in a folder named after the local time and never one that exists; a lower count, the
// counter's wrap too, starts the next one.
TEST_F(step_fixture, counts_store_each_new_frame_once_and_a_lower_count_starts_a_session) {
    take(100, 4);
    EXPECT_TRUE(session.is_open());
    EXPECT_EQ(status(), L"ДПП[4]: 100 Записано кадров: 0");
    next_frame(10);
    for (std::uint32_t count = 101; count <= 130; ++count)
        take(count, 4);
    next_frame(20);
    take(130, 7);
    EXPECT_LE(owner.texts(EVT_THREAD_RECORD_STATUS).size(), 2u)
        << "at most one a tenth of a second";
    EXPECT_EQ(handovers, 2);
    EXPECT_EQ(status(), L"ДПП[7]: 130 Записано кадров: 2");
    EXPECT_TRUE(owner.texts(EVT_THREAD_LOG_INFO).empty()) << "neither the first nor an equal count";
    next_frame(30);
    take(129, 7);
    next_frame(40);
    take(4294967295u, 7);
    EXPECT_EQ(status(), L"ДПП[7]: 4294967295 Записано кадров: 2");
    next_frame(50);
    take(0, 7);
    EXPECT_EQ(owner.texts(EVT_THREAD_LOG_INFO),
              (std::vector<wxString>{"dpp reset: 130 to 129", "dpp reset: 4294967295 to 0"}));
    session.close();
    EXPECT_THAT(range(""), testing::Pair("0000000101", "0000000130"));
    EXPECT_THAT(range(" (2)"), testing::Pair("0000000129", "4294967295"));
    EXPECT_EQ(range(" (3)").first, "0000000000");
}

// The engine refuses every write on a handle once a table failed; only a new session can go on.
// A full disk shows when the flusher's table fails, within about a second of the fill.
TEST_F(step_fixture, a_failing_disk_is_reported_once_and_recording_resumes_after_a_pause) {
    using namespace std::chrono_literals;
    next_frame(1);
    take(1, 7);
    session.close(); // the first session holds frame 1
    disk.fill(200);  // the frames, not the small metadata writes
    std::uint32_t count = 2;
    for (const auto given_up = std::chrono::steady_clock::now() + 10s;
         owner.texts(EVT_THREAD_LOG_ERROR).empty() && std::chrono::steady_clock::now() < given_up;
         ++count) {
        next_frame(int(count));
        take(count, 7);
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(owner.texts(EVT_THREAD_LOG_ERROR).size(), 1u);
    EXPECT_FALSE(session.is_open()) << "no count within the pause opens a session";
    next_frame(int(count));
    take(count, 7);
    EXPECT_EQ(status(), L"ДПП[7]: " + std::to_wstring(count) + L" Записано кадров: 0");
    disk.fill(); // now even the open fails
    std::this_thread::sleep_for(1100ms);
    next_frame(int(++count));
    take(count, 7);
    EXPECT_EQ(owner.texts(EVT_THREAD_LOG_ERROR).size(), 1u) << "the same failure a second later";
    EXPECT_FALSE(std::filesystem::exists(path + " (3)"))
        << "a session that failed before its first frame is removed";
    disk.free_space();
    std::this_thread::sleep_for(1100ms);
    next_frame(int(++count));
    take(count, 7);
    EXPECT_EQ(session.frames_written(), 1u);
    EXPECT_EQ(owner.texts(EVT_THREAD_LOG_INFO).back(), L"Запись возобновлена: " + path + " (3)");
    session.close();
    EXPECT_EQ(range(""), std::make_pair(frame_key(1), frame_key(1)));
    EXPECT_EQ(range(" (3)").first, frame_key(count));
}

// A count takes the frame that is the newest when it arrives, even while the write thread is busy;
// only a few such frames wait for it at a time, and meanwhile new frames are left where they are:
// the first count after one is stored takes the newest.
TEST_F(step_fixture, a_busy_write_thread_is_handed_a_few_frames_and_then_the_newest) {
    std::vector<count_work> waiting;
    for (std::uint32_t count = 1; count <= 5; ++count) {
        next_frame(int(count) * 10);
        if (auto work = intake.take(count, 7); work && work->frame)
            waiting.push_back(std::move(*work));
    }
    ASSERT_EQ(waiting.size(), 3u);
    for (const count_work& work : waiting) {
        step.store(work);
        intake.frame_done();
    }
    take(6, 7);
    session.close();
    const raw_entries stored = read_raw_session(path);
    EXPECT_EQ(stored.at("0000000002"), jpeg_of(cv::Mat(8, 8, CV_8UC1, cv::Scalar(20))));
    EXPECT_EQ(stored.at("0000000006"), jpeg_of(cv::Mat(8, 8, CV_8UC1, cv::Scalar(50))));
    EXPECT_EQ(stored.count("0000000004") + stored.count("0000000005"), 0u);
}
