#pragma once
// An off-screen bitmap that the gauge composes its picture in.
#include "platform/gdi/canvas.h"

namespace controls {

class TBltBitmap : public gdi::Canvas {
public:
    TBltBitmap() : gdi::Canvas(0, 0) {}

    // Takes the other bitmap's width and height and fills the whole image
    // with the system window-frame colour.
    void MakeLike(const gdi::Canvas& other)
    {
        SetSize(other.Width(), other.Height());
        ResetClip();
        Brush.Color = gdi::clWindowFrame;
        Brush.Style = gdi::BrushStyle::bsSolid;
        FillRect(gdi::TRect{0, 0, Width(), Height()});
    }
};

} // namespace controls
