#include "app/live_view.h"

#include <opencv2/imgproc.hpp>
#include <wx/dcbuffer.h>
#include <wx/image.h>

// clang-format off
wxBEGIN_EVENT_TABLE(live_view, wxPanel)
    EVT_PAINT(live_view::on_paint)
wxEND_EVENT_TABLE()
    // clang-format on

    live_view::live_view(wxWindow* parent, wxWindowID id, live_source source)
    : wxPanel(parent, id, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL | wxNO_BORDER),
      source_(std::move(source)) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
}

void live_view::paint(wxDC& dc) {
    take_newest();
    dc.SetBackground(wxBrush(GetBackgroundColour()));
    dc.Clear();
    if (!bitmap_.IsOk())
        return;
    dc.DrawBitmap(bitmap_, 0, 0);
    dc.SetTextForeground(*wxGREEN);
    dc.DrawText(frame_.overlay, 10, 10);
}

void live_view::on_paint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    paint(dc);
}

// Grey to BGR, as the camera's frames are single-channel and the toolkit's images three. Without a
// capture the last frame stays, and the next capture's frames are new whatever their timestamps.
void live_view::take_newest() {
    const wxSize size = GetClientSize();
    if (!source_(frame_, {size.x, size.y})) {
        frame_.timestamp = drawn_ = 0;
        return;
    }
    const wxSize part(frame_.image.cols, frame_.image.rows);
    if (frame_.timestamp == 0 || (frame_.timestamp == drawn_ && bitmap_.GetSize() == part))
        return;
    cv::Mat colour;
    cv::cvtColor(frame_.image, colour, cv::COLOR_GRAY2BGR);
    bitmap_ = wxBitmap(wxImage(colour.cols, colour.rows, colour.data, true));
    drawn_ = frame_.timestamp;
}
