#pragma once

// The archive's setting texts read as values: pure, no toolkit, so that the recorder's readers and
// tresvik-db take the same texts the same way.

#include <cstdint>
#include <optional>
#include <string_view>

// How much of write_path's volume retention keeps free: a share of the volume or a size.
struct free_space_goal {
    double percent = 0; // of the volume's size, below 100; used when bytes is not set
    std::optional<std::uint64_t> bytes;

    // The free bytes wanted on a volume of that many bytes.
    std::uint64_t wanted(std::uint64_t volume_bytes) const;
};

// "10%", "12.5%", or a size with an optional binary suffix: "20G", "512M", "1.5T", "4096" (bytes),
// the suffixes K, M, G, T in either case. Nothing for any other text.
std::optional<free_space_goal> parse_free_space(std::string_view text);

// True when rclone's --bwlimit takes the text: "off", a rate ("10M", "512k", "0.5M"; KiB/s without
// a suffix, B K M G T P in either case), an "up:down" pair of rates, or a time table of entries
// "HH:MM,rate" or "Day-HH:MM,rate" (Day: Mon ... Sun) separated by single spaces, whose rate may
// also be a pair. Empty is no limit and valid too.
bool valid_bandwidth_limit(std::string_view text);

// One folder name, as the car's folder on the remote is: not empty, not "." or "..", and without
// "/", "\\" or ":".
bool valid_folder_name(std::string_view text);

// "1", "true" and "0", "false" in any case; nothing for other texts.
std::optional<bool> parse_switch(std::string_view text);
