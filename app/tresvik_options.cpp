#include "app/tresvik_options.h"

#include <wx/button.h>
#include <wx/display.h>
#include <wx/propgrid/advprops.h>
#include <wx/propgrid/props.h>
#include <wx/sizer.h>

#include "settings/settings.h"

namespace {
// The dialog takes this share of the display in both directions.
constexpr float display_share = 0.7f;

// The choice whose label equals the stored text, compared exactly; none when no label does.
wxEnumProperty* choice_property(const wxString& label, const wxString& key,
                                const wxArrayString& labels, const wxString& stored) {
    wxArrayInt values;
    for (std::size_t i = 0; i < labels.size(); ++i)
        values.Add(static_cast<int>(i));
    auto* property = new wxEnumProperty(label, key, labels, values);
    const int index = labels.Index(stored, true);
    if (index == wxNOT_FOUND)
        property->SetValue(wxVariant());
    else
        property->SetChoiceSelection(index);
    return property;
}

wxArrayString labels_of(std::initializer_list<const wchar_t*> texts) {
    wxArrayString labels;
    for (const wchar_t* text : texts)
        labels.Add(text);
    return labels;
}

// A text the grid refuses while editing unless the check takes it, as it refuses a ruler scale
// that is no number: the value stays as it was and the operator is told why.
class checked_text_property : public wxStringProperty {
public:
    using check = bool (*)(std::string_view text);
    checked_text_property(const wxString& label, const wxString& key, const wxString& value,
                          check takes)
        : wxStringProperty(label, key, value), takes_(takes) {}

    bool ValidateValue(wxVariant& value, wxPGValidationInfo& info) const override {
        const wxString text = value.GetString();
        if (takes_(text.utf8_string()))
            return true;
        info.SetFailureMessage(
            wxString::Format(L"Настройка %s: значение \"%s\" не подходит.", GetName(), text));
        return false;
    }

private:
    check takes_;
};

bool free_space_text(std::string_view text) {
    return parse_free_space(text).has_value();
}

wxSize dialog_size() {
    const wxRect display = wxDisplay(0u).GetGeometry();
    return wxSize(static_cast<int>(display.width * display_share),
                  static_cast<int>(display.height * display_share));
}
} // namespace

// clang-format off
wxBEGIN_EVENT_TABLE(tresvik_options, wxDialog)
    EVT_BUTTON(wxID_OK, tresvik_options::on_ok)
wxEND_EVENT_TABLE()
    // clang-format on

    tresvik_options::tresvik_options(wxWindow* parent, wxConfigBase* settings)
    : wxDialog(parent, wxID_ANY, L"Настройка программы", wxDefaultPosition, dialog_size(),
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
      settings_(settings) {
    wxPropertyGrid::SetBoolChoices(L"Да", L"Нет");
    grid_ = new wxPropertyGrid(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, 0);
    auto* ok = new wxButton(this, wxID_OK, "Ok", wxDefaultPosition, wxDefaultSize, wxBORDER_NONE);
    auto* cancel =
        new wxButton(this, wxID_CANCEL, L"Отмена", wxDefaultPosition, wxDefaultSize, wxBORDER_NONE);
    auto* top = new wxBoxSizer(wxVERTICAL);
    top->Add(grid_, 1, wxEXPAND | wxALL, 10);
    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    buttons->Add(ok, 0, wxALL, 10);
    buttons->Add(cancel, 0, wxALL, 10);
    top->Add(buttons, 0, wxALIGN_RIGHT, 0);
    append_properties();
    SetSizer(top);
    Centre(wxBOTH);
}

void tresvik_options::append_properties() {
    const wxConfigBase& s = *settings_;
    grid_->Append(new wxPropertyCategory(L"Вагон"));
    grid_->Append(choice_property(L"Борт", "side", labels_of({L"левый", L"правый"}), read_side(s)));
    grid_->Append(new wxPropertyCategory(L"Камера"));
    grid_->Append(choice_property(L"Предпочтительный драйвер", "driver",
                                  labels_of({L"FilterDriver", L"SocketDriver"}), read_driver(s)));
    grid_->Append(new wxPropertyCategory(L"Изображение"));
    grid_->Append(new wxBoolProperty(L"Разворачивать на 180", "rotate180", read_rotate180(s)));
    grid_->Append(new wxBoolProperty(L"Показывать линейку", "show_scale", read_show_scale(s)));
    grid_->Append(new wxFloatProperty(L"Масштаб линейки", "scale", read_scale(s)));
    grid_->Append(new wxPropertyCategory(L"Запись"));
    grid_->Append(new wxDirProperty(L"Каталог", "write_path", read_write_path(s)));
    grid_->Append(new wxPropertyCategory(L"ДПП"));
    grid_->Append(new wxStringProperty(L"Порт ДПП", "dpp_port", read_dpp_port(s)));
    grid_->Append(new wxPropertyCategory(L"Сервер координат"));
    grid_->Append(new wxStringProperty(L"Адрес", "coordinate_server_address",
                                       read_coordinate_server_address(s)));
    grid_->Append(
        new wxStringProperty(L"Порт", "coordinate_server_port", read_coordinate_server_port(s)));
    grid_->Append(new wxPropertyCategory(L"Служба доступа к данным"));
    grid_->Append(new wxStringProperty(L"Порт", "data_service_port", read_data_service_port(s)));
    append_archive_properties();
}

void tresvik_options::append_archive_properties() {
    const wxConfigBase& s = *settings_;
    grid_->Append(new wxPropertyCategory(L"Архив"));
    grid_->Append(
        new wxStringProperty(L"Хранилище (rclone)", "archive_remote", read_archive_remote(s)));
    grid_->Append(new checked_text_property(L"Папка вагона", "archive_car",
                                            read_archive_car(s).value, valid_folder_name));
    grid_->Append(new wxFileProperty(L"Файл настройки rclone", "archive_rclone_config",
                                     read_archive_rclone_config(s)));
    grid_->Append(new checked_text_property(L"Ограничение скорости", "archive_bwlimit",
                                            read_archive_bwlimit(s).value, valid_bandwidth_limit));
    grid_->Append(new checked_text_property(L"Свободное место на диске", "min_free_space",
                                            read_min_free_space_text(s), free_space_text));
    grid_->Append(
        new wxBoolProperty(L"Запись по кругу", "loop_recording", read_loop_recording(s).value));
}

void tresvik_options::accept() {
    wxConfigBase& s = *settings_;
    for (const char* key : {"side", "driver"})
        s.Write(key, grid_->GetPropertyValueAsString(key));
    for (const char* key : {"rotate180", "show_scale"})
        s.Write(key, grid_->GetPropertyValueAsBool(key));
    s.Write("scale", grid_->GetPropertyValueAsDouble("scale"));
    for (const char* key :
         {"write_path", "dpp_port", "coordinate_server_address", "coordinate_server_port",
          "data_service_port", "archive_remote", "archive_car", "archive_rclone_config",
          "archive_bwlimit", "min_free_space"})
        s.Write(key, grid_->GetPropertyValueAsString(key));
    s.Write("loop_recording", grid_->GetPropertyValueAsBool("loop_recording"));
}

void tresvik_options::on_ok(wxCommandEvent&) {
    accept();
    EndModal(wxID_OK);
}
