#include "tests/browser/whole_frame_drawing.h"

#include <wx/bitmap.h>
#include <wx/image.h>

#include "browser/image_panel.h"

void draw_whole_frame(wxDC& dc, const cv::Mat& frame, const panel_view& view, double ruler_scale,
                      bool ruler_visible) {
    dc.SetBackground(*wxBLACK_BRUSH);
    dc.Clear();
    if (frame.empty())
        return;
    const wxImage image(frame.cols, frame.rows, const_cast<uchar*>(frame.data), true);
    dc.SetUserScale(view.zoom, view.zoom);
    dc.DrawBitmap(wxBitmap(image), view.offset.x, view.offset.y, false);
    dc.SetUserScale(1.0, 1.0);
    if (ruler_visible)
        draw_ruler(dc, ruler_geometry(ruler_scale, view.zoom, view.origin));
}
