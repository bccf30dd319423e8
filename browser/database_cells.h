#pragma once

// The texts of the database list's cells, as pure values (wxBase only): the list formats a cell
// only when the control asks for it.

#include <optional>

#include <wx/string.h>

#include "archive/archiver.h"
#include "recording/session_store.h"

inline constexpr int database_column_count = 9;
// The last column, "Архив": the session's place in the archive, which the list keeps apart from
// the index.
inline constexpr int archive_column = 8;

// The column headings, left to right.
wxString database_column_heading(int column);

// Columns: session code, orientation, side, start time, end time, start DPP, end DPP ("-" for
// 4294967295), size (the toolkit's human-readable size, "Not available" for 0). Any other column
// gives an empty text.
wxString database_cell_text(const session_info& info, long column);

// A session's place in the archive as the archiver last reported it.
struct archive_mark {
    archive_state state = archive_state::waiting;
    int percent = 0; // while copying
};

// The column "Архив": "—" with the archive off; else "ожидает" (also before the archiver has
// reported the session), "NN %" while copying, "в архиве" or "ошибка".
wxString archive_cell_text(bool archive_on, const std::optional<archive_mark>& mark);
