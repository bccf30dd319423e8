#pragma once

#include <opencv2/core/mat.hpp>
#include <wx/dc.h>

#include "browser/image_view.h"

// How the viewer drew before it drew only the visible part: the whole frame converted to a bitmap
// on every drawing and drawn through the context's user scale, then the ruler in window pixels.
// The reference the image panel must look like, and what the benchmark measures it against.
void draw_whole_frame(wxDC& dc, const cv::Mat& frame, const panel_view& view, double ruler_scale,
                      bool ruler_visible);
