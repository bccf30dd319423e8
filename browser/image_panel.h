#pragma once

#include <wx/bitmap.h>
#include <wx/cursor.h>
#include <wx/dc.h>
#include <wx/panel.h>

#include "browser/image_view.h"

// Draws the ruler's lines and texts in window pixels with the stock red pen and text colour; the
// context's pen and text colour are restored afterwards.
void draw_ruler(wxDC& dc, const ruler_drawing& ruler);

// The viewer's frame: drawn zoomed on black, dragged with the left button, zoomed by the wheel,
// with the millimetre ruler whose zero follows the pointer (the pointer itself is hidden while the
// ruler shows). GUI thread only. It draws only in its paint handler, double-buffered; a change
// asks for a repaint, so nothing flickers and GTK shows every drawing.
class VImagePanel : public wxPanel {
public:
    explicit VImagePanel(wxWindow* parent);

    // An 8-bit three-channel frame whose channels are shown as red, green and blue, or an empty
    // matrix for none (plain black). The panel shares the pixels without copying them; whoever
    // changes them in place calls this again. Zoom, offset and ruler stay as they are.
    void set_frame(const cv::Mat& frame);
    // Frame pixels per millimetre, and whether the ruler shows.
    void set_ruler(double ruler_scale, bool visible);

    const panel_view& view() const { return view_; }
    double ruler_scale() const { return ruler_scale_; }
    bool ruler_visible() const { return ruler_visible_; }

    // Everything the panel shows, drawn on any context the size of its client area.
    void paint(wxDC& dc);

private:
    void on_paint(wxPaintEvent& event);
    void on_enter(wxMouseEvent& event);
    void on_leave(wxMouseEvent& event);
    void on_left_down(wxMouseEvent& event);
    void on_left_up(wxMouseEvent& event);
    void on_motion(wxMouseEvent& event);
    void on_wheel(wxMouseEvent& event);
    const wxCursor& resting_cursor() const;
    void draw_frame(wxDC& dc);

    cv::Mat frame_;
    double ruler_scale_ = 0.8;
    bool ruler_visible_ = true;
    panel_view view_;
    wxCursor ruler_cursor_{wxCURSOR_BLANK};
    // The visible part as last scaled, kept while the frame, zoom, offset and size stay the same:
    // a pointer movement that moves only the ruler scales no frame pixels again.
    struct scaled_part {
        wxBitmap bitmap;
        view_point at;
        double zoom = 0;
        view_point offset;
        wxSize window;
    } scaled_;

    wxDECLARE_EVENT_TABLE();
};
