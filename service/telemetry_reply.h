#pragma once

// The telemetry responder's messages, as pure values: the reply to one query datagram. Uses the
// toolkit's XML parser (no GUI); safe on any thread.

#include <cstddef>
#include <optional>
#include <string>

#include <wx/string.h>

// "работает" while a session database is open for recording, else "остановлен".
wxString status_word(bool recording);

// The reply's bytes (UTF-8) to a query, given the side text read at start-up and whether the
// recorder has a session open now: the XML status document for command="status", the text line
// "Подвагонное видео (<side> борт) - <status>" for any other command or none, nothing for bytes
// that are not XML. The query is read up to its first NUL byte, in the C library's locale.
std::optional<std::string> telemetry_reply(const char* datagram, std::size_t size,
                                           const wxString& side, bool recording);

// The query the client tool sends: <query command="..."/> in UTF-8, the text escaped as XML needs.
std::string telemetry_query(const wxString& command);
