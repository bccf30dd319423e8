#pragma once

// The archive's pure rules: which files of a session folder make its snapshot, the fingerprint
// that tells whether an archived session changed since, the state file's text, what rclone's JSON
// log lines say, and the order in which retention may delete sessions. Bytes in, values out; safe
// on any thread.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One file of a session folder.
struct folder_file {
    std::string name;
    std::uint64_t size = 0;
    bool operator==(const folder_file& other) const {
        return name == other.name && size == other.size;
    }
};

// How a file goes into the snapshot: table files never change once written and are linked; the
// current pointer, manifests and logs are copied; the engine's lock and its text logs stay out.
enum class snapshot_part { link, copy, leave };
snapshot_part snapshot_part_of(std::string_view name);

// The table files and the non-empty logs, sorted by name. Opening a session read-only rewrites the
// manifest and starts an empty log, which changes nothing stored; an edit leaves a non-empty log
// or a new table, which does.
using folder_fingerprint = std::vector<folder_file>;
folder_fingerprint fingerprint_of(const std::vector<folder_file>& files);

// An archived session: its fingerprint when it was copied and where it went.
struct archive_record {
    folder_fingerprint fingerprint;
    std::string destination;
};
// By session folder name.
using archive_records = std::map<std::string, archive_record>;

// The state file's JSON text; parsing throws std::runtime_error when the text is damaged.
std::string records_text(const archive_records& records);
archive_records parse_records(std::string_view text);

// Where a session goes on the remote: "<remote>/<car>/<name>", without doubling the separator
// after "depot:" or "depot:fleet/".
std::string remote_destination(const std::string& remote, const std::string& car,
                               const std::string& name);

// What one line of rclone's output says. With --use-json-log its log records are JSON; a failure
// before logging starts, and the closing summary of one, are plain "YYYY/MM/DD HH:MM:SS text",
// whose cause may follow on a line of its own.
struct rclone_line {
    std::optional<int> percent; // a statistics record: bytes transferred of the total
    std::string error; // an error record's or a plain line's text: its first line and its cause
    std::string cause; // a line "caused by: ..." that belongs to the plain line before it
};
rclone_line read_rclone_line(std::string_view line);

// A session folder as retention sees it.
struct retention_folder {
    bool archived = false;
    bool in_use = false; // recorded, viewed, served or copied, here or by another program
};

// The indexes of the folders that may go, in the order they go: the archived ones oldest first;
// with loop recording the unarchived ones after them, oldest first. Never one in use.
std::vector<std::size_t> deletion_order(const std::vector<retention_folder>& oldest_first,
                                        bool loop);
