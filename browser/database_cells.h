#pragma once

// The texts of the database list's cells, as pure values (wxBase only): the list formats a cell
// only when the control asks for it.

#include <wx/string.h>

#include "recording/session_store.h"

inline constexpr int database_column_count = 8;

// The column headings, left to right.
wxString database_column_heading(int column);

// Columns: session code, orientation, side, start time, end time, start DPP, end DPP ("-" for
// 4294967295), size (the toolkit's human-readable size, "Not available" for 0). Any other column
// gives an empty text.
wxString database_cell_text(const session_info& info, long column);
