#include <gmock/gmock.h>

#include "archive/archive_disk.h"
#include "archive/archiver.h"
#include "recording/session_store.h"
#include "tests/archive/archive_peers.h"
#include "tests/recording/raw_session.h"
#include "tests/support/small_volume.h"

// Seven sessions of about 0.9 MB fill three quarters of an 8 MB volume. Sessions 1 (viewed), 3
// (open in another program's handle) and 7 (being recorded) are in use and never go; the archived
// ones go first, oldest first, until the space is back; the unarchived ones only with loop
// recording.
TEST(retention, the_oldest_archived_sessions_go_first_and_none_in_use_ever) {
    const struct {
        const char* what;
        std::vector<int> archived;
        const char* goal;
        bool loop;
        std::vector<std::string> deleted;
        bool full;
    } cases[] = {
        {"nothing archived", {}, "40%", false, {}, true},
        {"archived sessions", {0, 1, 2, 3, 4}, "40%", false, {"s0", "s2"}, false},
        {"loop recording",
         {0},
         "95%",
         true,
         {"s0", "s2 unarchived", "s4 unarchived", "s5 unarchived", "s6 unarchived"},
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        temp_dir root;
        const small_volume volume(root.path(), "8m");
        const auto path = [&](int n) { return root.path() + "/s" + std::to_string(n); };
        archive_records records;
        for (int n = 0; n < 7; ++n) {
            write_raw_session(path(n), megabyte_session());
            records["s" + std::to_string(n)] = {fingerprint_of(folder_files(path(n))), "depot:x"};
        }
        for (auto n = records.begin(); n != records.end();)
            n = std::count(c.archived.begin(), c.archived.end(), n->first[1] - '0')
                    ? std::next(n)
                    : records.erase(n);
        save_records(root.path(), records);
        session_store store(root.path());
        const auto viewed = store.open_reader(path(1));
        const auto other_program = open_raw_session(path(3), false);
        store.current_session().open(path(7));
        recorded_events events;
        retention pass(store, events);
        const retention_result result =
            pass.pass({root.path(), *parse_free_space(c.goal), c.loop, false});
        EXPECT_EQ(events.deletions, c.deleted);
        EXPECT_EQ(result.full, c.full);
        EXPECT_EQ(events.full, c.full ? 1 : 0);
        EXPECT_EQ(result.space.free < result.wanted, c.full);
        EXPECT_EQ(scan_sessions(root.path()).size(), 8 - c.deleted.size());
        store.current_session().close();
    }
}
