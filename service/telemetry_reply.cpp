#include "service/telemetry_reply.h"

#include <algorithm>

#include <wx/log.h>
#include <wx/mstream.h>
#include <wx/xml/xml.h>

#include "base/encoding.h"

namespace {
wxString escape_attribute(const wxString& text) {
    return escape_markup(text.ToStdWstring(), markup_place::attribute);
}

// Nothing when the text is not an XML document. The parser's own complaint is not wanted: on a
// worker thread the toolkit would show it to the operator in a window.
std::optional<wxString> command_of(const char* datagram, std::size_t size) {
    const std::size_t length = std::find(datagram, datagram + size, '\0') - datagram;
    const wxString text(wide_text(std::string_view(datagram, length)));
    const wxScopedCharBuffer bytes = text.utf8_str();
    wxMemoryInputStream input(bytes.data(), bytes.length());
    wxLogNull quiet;
    wxXmlDocument document;
    if (!document.Load(input, "UTF-8") || !document.GetRoot())
        return std::nullopt;
    return document.GetRoot()->GetAttribute("command", L"Неизвестно");
}
} // namespace

wxString status_word(bool recording) {
    return recording ? L"работает" : L"остановлен";
}

std::optional<std::string> telemetry_reply(const char* datagram, std::size_t size,
                                           const wxString& side, bool recording) {
    const std::optional<wxString> command = command_of(datagram, size);
    if (!command)
        return std::nullopt;
    const wxString name = L"Подвагонное видео (" + side + L" борт)";
    if (*command != "status")
        return (name + " - " + status_word(recording)).utf8_string();
    return ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<subsystem name=\"" +
            escape_attribute(name) + "\" status=\"" + escape_attribute(status_word(recording)) +
            "\"/>\n")
        .utf8_string();
}

std::string telemetry_query(const wxString& command) {
    return ("<query command=\"" + escape_attribute(command) + "\"/>").utf8_string();
}
