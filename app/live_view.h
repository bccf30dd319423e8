#pragma once

#include <functional>

#include <opencv2/core/mat.hpp>
#include <wx/bitmap.h>
#include <wx/dc.h>
#include <wx/panel.h>

#include "recorder/recorder.h"

// Fills the frame with the newest part of at most the size given, as recorder::copy_live_frame
// does; false when no capture runs.
using live_source = std::function<bool(live_frame& frame, cv::Size size)>;

// The camera pane: the newest frame unscaled at the top left, the overlay text over it in green at
// (10, 10). It draws only in its paint handler, double-buffered, and only the part it shows: a
// new frame asks for a repaint, so however many arrive before the toolkit paints, at most one is
// converted per screen refresh and frames already replaced are never drawn. A frame met again (an
// uncovered pane) is drawn from the bitmap kept. GUI thread only.
class live_view : public wxPanel {
public:
    live_view(wxWindow* parent, wxWindowID id, live_source source);

    // A newer frame may be there: painted with the next repaint.
    void frame_arrived() { Refresh(false); }
    // Everything the pane shows, drawn on any context the size of its client area.
    void paint(wxDC& dc);

private:
    void on_paint(wxPaintEvent& event);
    void take_newest();

    live_source source_;
    live_frame frame_;
    wxBitmap bitmap_;         // the pixels drawn; none before the first frame
    std::uint64_t drawn_ = 0; // the timestamp of the frame in the bitmap

    wxDECLARE_EVENT_TABLE();
};
