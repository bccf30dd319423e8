#include "settings/settings_store.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include <wx/datetime.h>
#include <wx/log.h>
#include <wx/sstream.h>
#include <wx/strconv.h>

#include "base/constants.h"
#include "base/encoding.h"
#include "log/log_viewer.h"
#include "log/thread_events.h"

namespace {
// Reads the Windows-1251 of the older cars; a byte that code page leaves undefined means the file
// is not such text either, and Latin-1, which reads any byte, keeps what can be kept. Writes UTF-8,
// so the first save turns the file into what every reader expects.
class legacy_text_conversion : public wxMBConv {
public:
    size_t ToWChar(wchar_t* out, size_t out_size, const char* in,
                   size_t in_size = wxNO_LEN) const override {
        const size_t size = cp1251_.ToWChar(out, out_size, in, in_size);
        return size != wxCONV_FAILED ? size : wxConvISO8859_1.ToWChar(out, out_size, in, in_size);
    }
    size_t FromWChar(char* out, size_t out_size, const wchar_t* in,
                     size_t in_size = wxNO_LEN) const override {
        return wxConvUTF8.FromWChar(out, out_size, in, in_size);
    }
    wxMBConv* Clone() const override { return new legacy_text_conversion; }

private:
    wxCSConv cp1251_{wxFONTENCODING_CP1251};
};

enum class file_kind { missing, utf8_text, other_bytes, unreadable };

struct file_content {
    file_kind kind = file_kind::missing;
    std::string bytes;
    wxString failure; // why an unreadable file could not be read
};

// Text the store can take as it is: UTF-8 without NUL bytes (which no settings text holds).
bool is_utf8_text(const std::string& bytes) {
    return bytes.find('\0') == std::string::npos &&
           wxConvUTF8.ToWChar(nullptr, 0, bytes.data(), bytes.size()) != wxCONV_FAILED;
}

file_content read_settings_file(const wxString& path) {
    if (!wxFileName::Exists(path))
        return {};
    if (!wxFileName::FileExists(path))
        return {file_kind::unreadable,
                {},
                wxFileName::DirExists(path) ? L"на его месте папка" : L"это не обычный файл"};
    std::ifstream in(path.fn_str(), std::ios::binary);
    std::string bytes{std::istreambuf_iterator<char>(in), {}};
    if (!in && !in.eof())
        return {file_kind::unreadable, {}, readable_text(std::strerror(errno))};
    const file_kind kind = is_utf8_text(bytes) ? file_kind::utf8_text : file_kind::other_bytes;
    return {kind, std::move(bytes), {}};
}

std::unique_ptr<wxFileConfig> store_on_file(const wxString& path, const wxMBConv& conversion) {
    return std::make_unique<wxFileConfig>(wxEmptyString, wxEmptyString, path, wxEmptyString,
                                          wxCONFIG_USE_LOCAL_FILE, conversion);
}

// A store read from memory has no file of its own, so nothing it holds is ever saved.
std::unique_ptr<wxFileConfig> unsaved_store(const wxString& text) {
    wxStringInputStream stream(text);
    return std::make_unique<wxFileConfig>(stream, wxConvUTF8);
}

// The copy is made before the store exists, so no save can come first; an existing copy is never
// replaced.
wxString copy_aside(const wxString& path, const std::string& bytes, wxString& failure) {
    const wxString copy = path + wxDateTime::Now().Format(".%Y%m%d-%H%M%S") + ".bak";
    if (wxFileName::Exists(copy)) {
        failure = L"копия уже существует";
        return copy;
    }
    std::ofstream out(copy.fn_str(), std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        failure = readable_text(std::strerror(errno));
    return copy;
}

opened_settings open_legacy_text(const wxString& path, const std::string& bytes) {
    const wxString header = wxString::Format(
        L"Файл настроек [%s] не в кодировке UTF-8: прочитан как Windows-1251", path);
    wxString failure;
    const wxString copy = copy_aside(path, bytes, failure);
    if (!failure.empty()) {
        const wxString text(bytes.data(), legacy_text_conversion(), bytes.size());
        return {unsaved_store(text),
                {wxString::Format(L"%s; копию [%s] сохранить не удалось (%s), поэтому изменения "
                                  L"настроек сохраняться не будут.",
                                  header, copy, failure)}};
    }
    return {store_on_file(path, legacy_text_conversion()),
            {wxString::Format(L"%s, прежний файл сохранён как [%s].", header, copy)}};
}
} // namespace

wxFileName settings_file_name() {
    wxFileName file = wxFileName::DirName(wxFileName::GetHomeDir());
    file.AppendDir(user_folder_name);
    file.AppendDir("config");
    file.SetFullName(".tresvik");
    return file;
}

opened_settings open_settings() {
    const wxFileName file = settings_file_name();
    const wxString path = file.GetFullPath();
    wxLogNull quiet; // failures are reported as rows, not by the toolkit's log window
    if (!file.DirExists() && !file.Mkdir(0777, wxPATH_MKDIR_FULL))
        log_error(wxString::Format(L"Не удается создать папку с файлами настройки [%s]",
                                   file.GetPath(wxPATH_GET_VOLUME)));
    const file_content content = read_settings_file(path);
    switch (content.kind) {
    case file_kind::missing:
    case file_kind::utf8_text:
        return {store_on_file(path, wxConvUTF8), {}};
    case file_kind::other_bytes:
        return open_legacy_text(path, content.bytes);
    case file_kind::unreadable:
        break;
    }
    return {unsaved_store(wxEmptyString),
            {wxString::Format(L"Файл настроек [%s] не удается прочитать (%s): действуют значения "
                              L"по умолчанию, изменения настроек сохраняться не будут.",
                              path, content.failure)}};
}
