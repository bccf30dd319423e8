#pragma once

#include <functional>
#include <memory>

#include <opencv2/core/mat.hpp>
#include <wx/dialog.h>
#include <wx/spinctrl.h>

#include "browser/frame_saver.h"
#include "browser/image_panel.h"
#include "browser/operator_prompts.h"
#include "recording/session_store.h"

// "Просмотр базы": the frames of one recorded session, chosen by DPP with a spin control that
// steps 5 DPP, shown in the image panel; "Обработка" equalises the shown frame and "Сохранить кадр"
// writes stitched images of up to 100 frames from the current one on a worker, with a progress
// dialog. GUI thread only.
//
// Ownership: the dialog owns the reader (the session is in use while the dialog exists) and the
// decoded frame, whose pixels the panel shares. While a save runs, the worker reads through the
// reader with cursors of its own; the reader's current cursor is set where the save leaves it
// once the worker has ended.
class viewer_dialog : public wxDialog {
public:
    using error_row = std::function<void(const wxString& text)>;

    // Opens at the session's first frame. Errors go to the error rows.
    viewer_dialog(wxWindow* parent, std::unique_ptr<session_reader> reader,
                  operator_prompts& prompts, error_row report);

    VImagePanel& panel() { return *panel_; }
    wxSpinCtrlDouble& dpp_control() { return *dpp_; }
    const session_reader& reader() const { return *reader_; }
    const cv::Mat& frame() const { return frame_; }
    bool saving() const { return saver_ != nullptr; }

private:
    wxSpinCtrlDouble* make_dpp_control();
    void lay_out();
    void show_frame();
    void on_go_to_dpp(wxSpinDoubleEvent& event);
    void on_process(wxCommandEvent& event);
    void on_save(wxCommandEvent& event);
    void start_save(const wxString& chosen);
    void on_save_step(wxThreadEvent& event);
    void on_save_end(wxThreadEvent& event);
    void on_char_hook(wxKeyEvent& event);

    VImagePanel* panel_;
    wxSpinCtrlDouble* dpp_;
    std::unique_ptr<session_reader> reader_;
    cv::Mat frame_;
    operator_prompts& prompts_;
    error_row report_;
    save_plan plan_;
    std::unique_ptr<progress_view> progress_;
    // Last, so that it is destroyed first: the worker ends before the reader's handle goes.
    std::unique_ptr<frame_saver> saver_;

    wxDECLARE_EVENT_TABLE();
};
