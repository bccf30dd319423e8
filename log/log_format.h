#pragma once

#include <cstdint>
#include <ctime>
#include <string>

// Pure text of the event log: row markup, file names and the age rule of old files.

enum class log_level { error, info };

// "%d.%m.%Y %H:%M:%S" of a local broken-down time, independent of the process locale.
std::wstring format_log_time(const std::tm& local);

// The four lines of one row, each ended by '\n', exactly as the pane and the file receive them.
// The message is text, not markup: a session code or camera name holding '<' or '&' shows as it
// is instead of breaking the pane and the file.
std::wstring format_log_row(log_level level, const std::tm& local, const std::wstring& message);

// "tresvik[<seconds><pid>].html"; the seconds are cut to 32 bits.
std::string log_file_name(std::int64_t unix_seconds, std::uint32_t pid);

// True for names of the form "tresvik[*].html" (any run of characters inside literal brackets).
bool is_log_file_name(const std::string& name);

// A log file is removed at start-up once it is older than seven days; exactly seven days is kept.
bool is_expired_log(std::int64_t now, std::int64_t modified);
