#include "browser/image_panel.h"

#include <wx/dcbuffer.h>
#include <wx/dcmemory.h>
#include <wx/image.h>

namespace {
// A copy the toolkit owns, as the scaled pixels are temporary, drawn once into a bitmap of the
// display's own kind: on GTK 3 a bitmap made from an image is converted for the display server
// whenever it is drawn into a window, which for a new one each drag step costs ten times more.
wxBitmap to_bitmap(const cv::Mat& pixels) {
    const wxImage image(pixels.cols, pixels.rows, const_cast<uchar*>(pixels.data), true);
    wxBitmap native(pixels.cols, pixels.rows);
    wxMemoryDC dc(native);
    dc.DrawBitmap(wxBitmap(image), 0, 0, false);
    dc.SelectObject(wxNullBitmap);
    return native;
}

view_point at(const wxMouseEvent& event) {
    return {event.GetX(), event.GetY()};
}
} // namespace

void draw_ruler(wxDC& dc, const ruler_drawing& ruler) {
    const wxDCPenChanger pen(dc, *wxRED_PEN);
    const wxDCTextColourChanger colour(dc, *wxRED);
    for (const ruler_line& line : ruler.lines)
        dc.DrawLine(line.from.x, line.from.y, line.to.x, line.to.y);
    for (const ruler_text& text : ruler.texts)
        dc.DrawText(text.text, text.at.x, text.at.y);
}

// clang-format off
wxBEGIN_EVENT_TABLE(VImagePanel, wxPanel)
    EVT_PAINT(VImagePanel::on_paint)
    EVT_ENTER_WINDOW(VImagePanel::on_enter)
    EVT_LEAVE_WINDOW(VImagePanel::on_leave)
    EVT_LEFT_DOWN(VImagePanel::on_left_down)
    EVT_LEFT_UP(VImagePanel::on_left_up)
    EVT_MOTION(VImagePanel::on_motion)
    EVT_MOUSEWHEEL(VImagePanel::on_wheel)
wxEND_EVENT_TABLE()
    // clang-format on

    VImagePanel::VImagePanel(wxWindow* parent)
    : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxSize(640, 480), wxTAB_TRAVERSAL) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
}

void VImagePanel::set_frame(const cv::Mat& frame) {
    frame_ = frame;
    scaled_.zoom = 0;
    Refresh(false);
}

void VImagePanel::set_ruler(double ruler_scale, bool visible) {
    ruler_scale_ = ruler_scale;
    ruler_visible_ = visible;
    Refresh(false);
}

void VImagePanel::paint(wxDC& dc) {
    dc.SetBackground(*wxBLACK_BRUSH);
    dc.Clear();
    if (frame_.empty())
        return;
    draw_frame(dc);
    if (ruler_visible_)
        draw_ruler(dc, ruler_geometry(ruler_scale_, view_.zoom, view_.origin));
}

void VImagePanel::draw_frame(wxDC& dc) {
    const wxSize window = GetClientSize();
    if (scaled_.zoom != view_.zoom || !(scaled_.offset == view_.offset) ||
        scaled_.window != window) {
        const visible_part part =
            render_visible(frame_, view_.zoom, view_.offset, {window.x, window.y});
        scaled_ = {part.pixels.empty() ? wxBitmap() : to_bitmap(part.pixels), part.at, view_.zoom,
                   view_.offset, window};
    }
    if (scaled_.bitmap.IsOk())
        dc.DrawBitmap(scaled_.bitmap, scaled_.at.x, scaled_.at.y, false);
}

void VImagePanel::on_paint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    paint(dc);
}

const wxCursor& VImagePanel::resting_cursor() const {
    return ruler_visible_ ? ruler_cursor_ : *wxSTANDARD_CURSOR;
}

void VImagePanel::on_enter(wxMouseEvent&) {
    SetCursor(resting_cursor());
}

void VImagePanel::on_leave(wxMouseEvent&) {
    SetCursor(*wxSTANDARD_CURSOR);
}

void VImagePanel::on_left_down(wxMouseEvent& event) {
    press_left(view_, at(event));
    SetCursor(wxCursor(wxCURSOR_HAND));
    Refresh(false);
    event.Skip(); // the panel takes the focus as usual
}

void VImagePanel::on_left_up(wxMouseEvent&) {
    release_left(view_);
    SetCursor(resting_cursor());
    Refresh(false);
}

void VImagePanel::on_motion(wxMouseEvent& event) {
    move_pointer(view_, at(event), event.LeftIsDown());
    Refresh(false);
}

void VImagePanel::on_wheel(wxMouseEvent& event) {
    turn_wheel(view_, event.GetWheelRotation(), event.GetWheelDelta());
    Refresh(false);
}
