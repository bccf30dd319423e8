#pragma once

// How tresvik-db prints sessions: tab-separated rows for people and shell pipelines, JSON for
// scripts. Pure text functions.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "recording/session_store.h"

// "-" for a missing DPP, else the plain decimal number.
std::string dpp_text(std::uint32_t dpp);

// The printed fields and their names: path, session code, orientation, side, start time, end
// time, DPP start, DPP end, size in bytes, in the locale's narrow text. Tabs and line breaks
// inside a text become blanks so that one session stays one line.
extern const std::vector<std::string> session_field_names;
std::vector<std::string> session_fields(const session_index_entry& entry);

// The fields separated by tabs.
std::string session_row(const session_index_entry& entry);

// One JSON object with the same fields on one line, `{"path": "...", "session": ...}`; a
// missing DPP is null, texts are UTF-8 with U+FFFD for bytes that did not decode in the locale.
// The key counts are added as "frames" and "other_keys" when given.
std::string session_json(const session_index_entry& entry,
                         std::optional<key_counts> counts = std::nullopt);
