#include "browser/viewer_dialog.h"

#include <wx/button.h>
#include <wx/sizer.h>

#include "base/constants.h"
#include "base/encoding.h"
#include "browser/frame_stitching.h"
#include "recording/session_format.h"

namespace {
wxSize scaled_display_size() {
    wxSize size = wxGetDisplaySize();
    size.Scale(0.7f, 0.7f);
    return size;
}

wxButton* make_button(wxWindow* parent, int id, const wxString& label) {
    return new wxButton(parent, id, label, wxDefaultPosition, wxDefaultSize, wxBORDER_NONE);
}

wxString progress_text(std::size_t file, std::size_t files) {
    return wxString::Format(L"Файл %zu из %zu", file, files);
}
} // namespace

// clang-format off
wxBEGIN_EVENT_TABLE(viewer_dialog, wxDialog)
    EVT_SPINCTRLDOUBLE(id_dpp, viewer_dialog::on_go_to_dpp)
    EVT_BUTTON(id_save, viewer_dialog::on_save)
    EVT_BUTTON(id_process, viewer_dialog::on_process)
    EVT_THREAD(id_save_step, viewer_dialog::on_save_step)
    EVT_THREAD(id_save_end, viewer_dialog::on_save_end)
    EVT_CHAR_HOOK(viewer_dialog::on_char_hook)
wxEND_EVENT_TABLE()
    // clang-format on

    viewer_dialog::viewer_dialog(wxWindow* parent, std::unique_ptr<session_reader> reader,
                                 operator_prompts& prompts, error_row report)
    : wxDialog(parent, wxID_ANY, L"Просмотр базы", wxDefaultPosition, scaled_display_size(),
               wxDEFAULT_DIALOG_STYLE),
      panel_(new VImagePanel(this)), dpp_(nullptr), reader_(std::move(reader)), prompts_(prompts),
      report_(std::move(report)) {
    dpp_ = make_dpp_control();
    lay_out();
    reader_->current().seek(reader_->dpp_start());
    frame_ = reader_->current().frame();
    show_frame();
    Centre(wxBOTH);
}

// Whole numbers, 5 DPP per arrow press, over the session's range.
wxSpinCtrlDouble* viewer_dialog::make_dpp_control() {
    const double start = reader_->dpp_start(), end = reader_->dpp_end();
    auto* control =
        new wxSpinCtrlDouble(this, id_dpp, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                             wxSP_ARROW_KEYS, start, end, 0, 1, "wxSpinCtrlDouble");
    control->SetIncrement(5);
    control->SetRange(start, end);
    control->SetValue(start);
    return control;
}

// "Отмена" is in no sizer and hidden, so it covers nothing; Escape still cancels (on_char_hook).
void viewer_dialog::lay_out() {
    auto* column = new wxBoxSizer(wxVERTICAL);
    column->Add(dpp_, 0, wxALL, 5);
    column->Add(make_button(this, id_save, L"Сохранить кадр"), 0, wxEXPAND | wxALL, 5);
    column->Add(make_button(this, id_process, L"Обработка"), 0, wxEXPAND | wxALL, 5);
    column->Add(make_button(this, wxID_OK, L"Закрыть"), 0, wxEXPAND | wxALL, 5);
    make_button(this, wxID_CANCEL, L"Отмена")->Hide();
    auto* top = new wxBoxSizer(wxHORIZONTAL);
    top->Add(panel_, 1, wxEXPAND | wxALL, 0);
    top->Add(column, 0);
    SetSizerAndFit(top);
}

void viewer_dialog::show_frame() {
    panel_->set_frame(frame_);
}

// Zoom, offset and ruler stay; the frame is shown as stored, unprocessed.
void viewer_dialog::on_go_to_dpp(wxSpinDoubleEvent& event) {
    reader_->current().seek(static_cast<std::uint32_t>(event.GetValue()));
    frame_ = reader_->current().frame();
    show_frame();
}

void viewer_dialog::on_process(wxCommandEvent&) {
    equalize_frame(frame_);
    show_frame();
}

// The shown frame and the spin control stay; the current cursor moves on with the files saved,
// so that the next save goes on from there.
void viewer_dialog::on_save(wxCommandEvent&) {
    if (saver_)
        return;
    const frame_cursor& current = reader_->current();
    if (!current.valid())
        return report_("There is no frame to save: the session holds none.");
    const std::optional<wxString> chosen = prompts_.ask_save_path(
        this, L"Сохранить файл", frame_key(current.dpp()) + ".png", L"Файлы png (*.png)|*.png");
    if (chosen)
        start_save(*chosen);
}

void viewer_dialog::start_save(const wxString& chosen) {
    plan_ = plan_save(*reader_);
    std::vector<save_item> items;
    for (std::size_t i = 0; i < plan_.files(); ++i)
        items.push_back(
            {plan_.dpps[i], narrow_text(saved_frame_path(chosen, plan_.dpps[i]).ToStdWstring())});
    progress_ = prompts_.show_progress(this, L"Сохранить кадр", progress_text(1, items.size()),
                                       static_cast<int>(items.size()), [this] {
                                           if (saver_)
                                               saver_->cancel();
                                       });
    saver_ = std::make_unique<frame_saver>(this, *reader_, std::move(items));
}

void viewer_dialog::on_save_step(wxThreadEvent& event) {
    if (!event.GetString().empty())
        report_(event.GetString());
    const std::size_t done = static_cast<std::size_t>(event.GetInt());
    if (progress_)
        progress_->update(event.GetInt(),
                          progress_text(std::min(done + 1, plan_.files()), plan_.files()));
}

void viewer_dialog::on_save_end(wxThreadEvent& event) {
    saver_.reset(); // the worker has queued its last event and ends
    progress_.reset();
    reader_->current().seek(plan_.cursor_after(static_cast<std::size_t>(event.GetInt())));
}

// The hidden "Отмена" cannot be pressed, so Escape ends the dialog with its result itself.
void viewer_dialog::on_char_hook(wxKeyEvent& event) {
    if (event.GetKeyCode() == WXK_ESCAPE && IsModal() && !saver_)
        return EndModal(wxID_CANCEL);
    event.Skip();
}
