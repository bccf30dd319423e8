#pragma once

// Byte-level layout of a session database: the keys and how every value is written and read.
// Pure functions without the engine, shared by the database layer and the session tool. Other
// programs read these folders with any leveldb library, so nothing here may change the bytes.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Metadata keys. Under the bytewise order every ten-digit frame key sorts before all of them,
// and they sort among themselves in this order; frame lookups rely on both.
inline constexpr std::string_view key_dpp_end = "dpp_end";
inline constexpr std::string_view key_dpp_start = "dpp_start";
inline constexpr std::string_view key_orientation = "orientation";
inline constexpr std::string_view key_session = "session";
inline constexpr std::string_view key_side = "side";
inline constexpr std::string_view key_time_end = "time_end";
inline constexpr std::string_view key_time_start = "time_start";
inline constexpr std::string_view key_version = "version";

// The one version this program writes.
inline constexpr std::string_view current_version = "1";

// "%010u" of the DPP: the frame key, and the text of the "dpp_start"/"dpp_end" values.
std::string frame_key(std::uint32_t dpp);

// Ten ASCII digits that hold a 32-bit DPP.
bool is_frame_key(std::string_view key);

// One of the metadata keys above.
bool is_metadata_key(std::string_view key);

// A stored DPP text: decimal, an optional leading '+', or a leading '-' that negates modulo 2^32;
// anything else or a magnitude above 4294967295 throws std::invalid_argument.
std::uint32_t parse_dpp(std::string_view text);

// Unix seconds as stored: signed decimal without leading zeros.
std::string format_unix_seconds(std::int64_t seconds);

// A stored time: signed 64-bit decimal with an optional sign; std::invalid_argument otherwise.
std::int64_t parse_unix_seconds(std::string_view text);

// Local time "YYYY-MM-DD HH:MM:SS" of Unix seconds, in the process's time zone; nothing when the
// platform cannot convert the time (its year does not fit the C library's broken-down time).
std::optional<std::string> format_local_time(std::int64_t seconds);

// The pixel size a frame value declares. The decoder allocates the image by it before it reads
// a single pixel, so a few hundred stored bytes can ask for gigabytes: the size is read first.
struct frame_size {
    int width = 0;
    int height = 0;
};

// The size in the frame header (SOF) of a JPEG, read by walking its marker segments up to the
// first scan; nothing when the bytes are no JPEG, the walk meets anything the decoder would not
// take as a well-formed header (stray bytes between segments, a second frame header, a scan
// before the frame header) or the size is zero.
std::optional<frame_size> declared_jpeg_size(std::string_view bytes);
