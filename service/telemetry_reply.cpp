#include "service/telemetry_reply.h"

#include <algorithm>

#include <wx/log.h>
#include <wx/mstream.h>
#include <wx/xml/xml.h>

namespace {
wxString escape_attribute(const wxString& text) {
    wxString escaped;
    for (const wxUniChar c : text) {
        if (c == '&')
            escaped += "&amp;";
        else if (c == '<')
            escaped += "&lt;";
        else if (c == '>')
            escaped += "&gt;";
        else if (c == '"')
            escaped += "&quot;";
        else
            escaped += c;
    }
    return escaped;
}

std::string utf8(const wxString& text) {
    const wxScopedCharBuffer bytes = text.utf8_str();
    return std::string(bytes.data(), bytes.length());
}

// Nothing when the text is not an XML document. The parser's own complaint is not wanted: on a
// worker thread the toolkit would show it to the operator in a window.
std::optional<wxString> command_of(const char* datagram, std::size_t size) {
    const std::size_t length = std::find(datagram, datagram + size, '\0') - datagram;
    const wxString text(datagram, *wxConvCurrent, length);
    if (text.empty() && length > 0)
        return std::nullopt;
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
        return utf8(name + " - " + status_word(recording));
    return utf8("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<subsystem name=\"" +
                escape_attribute(name) + "\" status=\"" + escape_attribute(status_word(recording)) +
                "\"/>\n");
}

std::string telemetry_query(const wxString& command) {
    return utf8("<query command=\"" + escape_attribute(command) + "\"/>");
}
