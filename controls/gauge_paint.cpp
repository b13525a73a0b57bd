// Painting of the gauge: the kind's picture and the percentage text are each
// drawn on black and combined onto the image by exclusive-or, so the text
// shows as the inverse of whatever lies beneath it; the finished image is then
// copied to the surface in one step.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "controls/blt_bitmap.h"
#include "controls/gauge.h"
#include "platform/rtl/format.h"

namespace controls {

namespace {

using gdi::Canvas;
using gdi::TRect;

// Towards zero, held inside the int range (a range inverted while loading can
// give percentages far outside 0..100).
int Trunc(double v) { return static_cast<int>(std::clamp(std::trunc(v), -1e9, 1e9)); }
// Nearest integer, ties to the even one (the default rounding mode).
int Round(double v) { return static_cast<int>(std::clamp(std::nearbyint(v), -1e9, 1e9)); }

void FillBlack(Canvas& c)
{
    c.Brush.Color = gdi::clBlack;
    c.Brush.Style = gdi::BrushStyle::bsSolid;
    c.FillRect(TRect{0, 0, c.Width(), c.Height()});
}

struct PictureStyle {
    gdi::TColor fore, back, color;
    bool border;
};

void PaintBackground(Canvas& c, const TRect& r, gdi::TColor back)
{
    c.Brush.Color = back;
    c.FillRect(r);
}

void PaintHorizontalBar(Canvas& c, const TRect& r, int p, const PictureStyle& s)
{
    PaintBackground(c, r, s.back);
    int w = r.Right - r.Left + 1;
    int h = r.Bottom - r.Top + 1;
    int f = std::min(Trunc(static_cast<double>(w) * p * 0.01), w);
    if (f < 1) return;
    c.Brush.Color = s.fore;
    c.FillRect(TRect{r.Left, r.Top, f, h});
}

void PaintVerticalBar(Canvas& c, const TRect& r, int p, const PictureStyle& s)
{
    PaintBackground(c, r, s.back);
    int w = r.Right - r.Left + 1;
    int h = r.Bottom - r.Top + 1;
    // The bar stands on the rectangle's bottom edge and a full one reaches its
    // top edge (with the border, the bottom edge is row h itself).
    int f = std::min(Trunc(static_cast<double>(h) * p * 0.01), r.Bottom - r.Top);
    c.Brush.Color = s.fore;
    c.FillRect(TRect{r.Left, r.Bottom - f, w, r.Bottom});
}

void PaintPie(Canvas& c, const TRect& r, int p, const PictureStyle& s)
{
    int w = r.Right - r.Left + (s.border ? 1 : 0);
    int h = r.Bottom - r.Top + (s.border ? 1 : 0);
    PaintBackground(c, r, s.color);
    c.Pen.Color = s.fore;
    c.Pen.Width = 1;
    c.Pen.Style = gdi::PenStyle::psSolid;
    c.Brush.Color = s.back;
    c.Ellipse(r.Left, r.Top, w, h);
    if (p <= 0) return;
    c.Brush.Color = s.fore;
    int hw = w / 2, hh = h / 2;
    double a = (p / 50.0 + 0.5) * std::numbers::pi;
    c.Pie(r.Left, r.Top, w, h, Round(hw * (1 - std::cos(a))), Round(hh * (1 - std::sin(a))), hw, 0);
}

void PaintNeedle(Canvas& c, const TRect& r, int p, const PictureStyle& s, int controlWidth)
{
    int w = r.Right - r.Left + (s.border ? 1 : 0);
    int h = r.Bottom - r.Top + (s.border ? 1 : 0);
    PaintBackground(c, r, s.color);
    c.Pen.Color = s.fore;
    c.Pen.Width = 1;
    c.Pen.Style = gdi::PenStyle::psSolid;
    c.Brush.Color = s.back;
    // The upper half of an ellipse twice the rectangle's height: the dial.
    c.Pie(r.Left, r.Top, w, 2 * h - 1, r.Left + w, r.Bottom - 1, r.Left, r.Bottom - 1);
    c.MoveTo(r.Left, r.Bottom);
    c.LineTo(r.Left + w, r.Bottom);
    if (p <= 0) return;
    int cx = controlWidth / 2;
    double a = p / 100.0 * std::numbers::pi;
    c.MoveTo(cx, r.Bottom - 1);
    c.LineTo(Round((1 - std::cos(a)) * cx), Round((1 - std::sin(a)) * (r.Bottom - 1)));
}

} // namespace

void TGauge::Paint(gdi::Canvas& canvas)
{
    TBltBitmap image;
    image.SetSize(Width(), Height());
    FillBlack(image);

    TRect rect = ClientRect();
    if (BorderStyle() == bsSingle) rect = gdi::Inflate(rect, -1, -1);
    int p = PercentComplete();

    TBltBitmap picture;
    picture.MakeLike(image);
    FillBlack(picture);
    PictureStyle style{foreColor_, backColor_, Color(), BorderStyle() == bsSingle};
    switch (Kind()) {
    case gkText: PaintBackground(picture, rect, backColor_); break;
    case gkHorizontalBar: PaintHorizontalBar(picture, rect, p, style); break;
    case gkVerticalBar: PaintVerticalBar(picture, rect, p, style); break;
    case gkPie: PaintPie(picture, rect, p, style); break;
    case gkNeedle: PaintNeedle(picture, rect, p, style, Width()); break;
    }
    image.Draw(0, 0, picture, gdi::CopyMode::cmSrcInvert);

    if (ShowText()) {
        std::string text = rtl::Format("%d%%", p);
        TBltBitmap textImage;
        textImage.MakeLike(image);
        FillBlack(textImage);
        textImage.Font = Font();
        textImage.Font.Color = gdi::clWhite;
        // Exclusive-or inverts whole pixels: smoothed glyph edges would turn
        // into stray colours over the bar, so the text is drawn solid unless
        // the font asks for smoothing.
        if (textImage.Font.Quality == gdi::FontQuality::fqDefault)
            textImage.Font.Quality = gdi::FontQuality::fqNonAntialiased;
        textImage.Brush.Style = gdi::BrushStyle::bsClear;
        gdi::TSize size = textImage.TextExtent(text);
        int x = (rect.Right - rect.Left + 1 - size.cx) / 2;
        int y = (rect.Bottom - rect.Top + 1 - size.cy) / 2;
        textImage.TextRect(rect, x, y, text);
        image.Draw(0, 0, textImage, gdi::CopyMode::cmSrcInvert);
    }

    canvas.Draw(0, 0, image);
}

} // namespace controls
