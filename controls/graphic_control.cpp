#include "controls/graphic_control.h"

#include <cstdio>
#include <cstdlib>

#include <algorithm>

namespace controls {

TGraphicControl::TGraphicControl(rtl::TComponent* owner) : rtl::TComponent(owner) {}

TGraphicControl::~TGraphicControl()
{
    if (host_) {
        std::fprintf(stderr, "TGraphicControl \"%s\" destroyed while a window still hosts it\n", Name.c_str());
        std::abort();
    }
}

void TGraphicControl::SetBounds(int left, int top, int width, int height)
{
    gdi::TRect bounds = gdi::Bounds(left, top, std::max(width, 0), std::max(height, 0));
    if (bounds == bounds_) return;
    gdi::TRect old = bounds_;
    // The host repaints where the control was as well as where it is now.
    if (onInvalidate_ && Showing() && !old.IsEmpty()) onInvalidate_(*this, old);
    bounds_ = bounds;
    Invalidate();
}

void TGraphicControl::SetColor(gdi::TColor color)
{
    parentColor_ = false;
    if (color == color_) return;
    color_ = color;
    Invalidate();
}

void TGraphicControl::SetParentColor(bool value) { parentColor_ = value; }

void TGraphicControl::SetFont(const gdi::TFont& font)
{
    parentFont_ = false;
    if (font == font_) return;
    font_ = font;
    Invalidate();
}

void TGraphicControl::SetParentFont(bool value) { parentFont_ = value; }

void TGraphicControl::ParentChanged(gdi::TColor parentColor, const gdi::TFont& parentFont)
{
    bool changed = false;
    if (parentColor_ && color_ != parentColor) {
        color_ = parentColor;
        changed = true;
    }
    if (parentFont_ && !(font_ == parentFont)) {
        font_ = parentFont;
        changed = true;
    }
    if (changed) Invalidate();
}

void TGraphicControl::SetVisible(bool value)
{
    if (value == visible_) return;
    // Hiding must repaint the parent beneath, so invalidate while still shown.
    if (!value) Invalidate();
    visible_ = value;
    if (value) Invalidate();
}

void TGraphicControl::SetEnabled(bool value)
{
    if (value == enabled_) return;
    enabled_ = value;
    Invalidate();
}

void TGraphicControl::EndLoading()
{
    if (!loading_) return;
    loading_ = false;
    Loaded();
}

void TGraphicControl::PaintOn(gdi::Canvas& parentCanvas)
{
    if (bounds_.IsEmpty()) return;
    gdi::Canvas canvas = parentCanvas.SubCanvas(bounds_);
    Paint(canvas);
}

bool TGraphicControl::Showing() const { return visible_ && !loading_ && !bounds_.IsEmpty(); }

void TGraphicControl::Repaint()
{
    if (onRepaint_ && Showing()) onRepaint_(*this);
}

void TGraphicControl::Invalidate()
{
    if (onInvalidate_ && Showing()) onInvalidate_(*this, bounds_);
}

} // namespace controls
