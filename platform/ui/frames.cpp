#include "platform/ui/frames.h"

namespace ui {

using gdi::TRect;

void DrawSunkenFrame(gdi::Canvas& c, const TRect& r)
{
    c.Brush.Style = gdi::BrushStyle::bsSolid;
    c.Brush.Color = gdi::clBtnShadow;
    c.FillRect(TRect{r.Left, r.Top, r.Right - 1, r.Top + 1});
    c.FillRect(TRect{r.Left, r.Top, r.Left + 1, r.Bottom - 1});
    c.Brush.Color = gdi::clBtnHighlight;
    c.FillRect(TRect{r.Left, r.Bottom - 1, r.Right, r.Bottom});
    c.FillRect(TRect{r.Right - 1, r.Top, r.Right, r.Bottom});
    c.Brush.Color = gdi::cl3DDkShadow;
    c.FillRect(TRect{r.Left + 1, r.Top + 1, r.Right - 2, r.Top + 2});
    c.FillRect(TRect{r.Left + 1, r.Top + 1, r.Left + 2, r.Bottom - 2});
}

void DrawRaisedFrame(gdi::Canvas& c, const TRect& r, bool pressed)
{
    c.Brush.Style = gdi::BrushStyle::bsSolid;
    c.Brush.Color = pressed ? gdi::cl3DDkShadow : gdi::clBtnHighlight;
    c.FillRect(TRect{r.Left, r.Top, r.Right - 1, r.Top + 1});
    c.FillRect(TRect{r.Left, r.Top, r.Left + 1, r.Bottom - 1});
    c.Brush.Color = pressed ? gdi::clBtnHighlight : gdi::cl3DDkShadow;
    c.FillRect(TRect{r.Left, r.Bottom - 1, r.Right, r.Bottom});
    c.FillRect(TRect{r.Right - 1, r.Top, r.Right, r.Bottom});
    if (!pressed) {
        c.Brush.Color = gdi::clBtnShadow;
        c.FillRect(TRect{r.Left + 1, r.Bottom - 2, r.Right - 1, r.Bottom - 1});
        c.FillRect(TRect{r.Right - 2, r.Top + 1, r.Right - 1, r.Bottom - 1});
    }
}

void DrawFocusRect(gdi::Canvas& c, const TRect& r)
{
    for (int x = r.Left; x < r.Right; x += 2) {
        c.SetPixel(x, r.Top, gdi::clBlack);
        c.SetPixel(x, r.Bottom - 1, gdi::clBlack);
    }
    for (int y = r.Top; y < r.Bottom; y += 2) {
        c.SetPixel(r.Left, y, gdi::clBlack);
        c.SetPixel(r.Right - 1, y, gdi::clBlack);
    }
}

void DrawScrollArrow(gdi::Canvas& c, const gdi::TRect& box, int dx, int dy)
{
    const int cx = (box.Left + box.Right) / 2, cy = (box.Top + box.Bottom) / 2;
    c.Pen.Color = gdi::clBtnText;
    c.Brush.Style = gdi::BrushStyle::bsSolid;
    c.Brush.Color = gdi::clBtnText;
    gdi::TPoint tri[3];
    if (dy != 0)
        tri[0] = {cx - 4, cy - 2 * dy}, tri[1] = {cx + 4, cy - 2 * dy}, tri[2] = {cx, cy + 2 * dy};
    else
        tri[0] = {cx - 2 * dx, cy - 4}, tri[1] = {cx - 2 * dx, cy + 4}, tri[2] = {cx + 2 * dx, cy};
    c.Polygon(tri);
}

} // namespace ui
