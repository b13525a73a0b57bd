#include "platform/gdi/canvas.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "platform/gdi/canvas_cairo.h"
#include "platform/gdi/canvas_impl.h"
#include "platform/rtl/exception.h"
#include "platform/rtl/format.h"

namespace gdi {

using detail::SavedState;
using detail::SetSourceColor;

namespace detail {

void SetSourceColor(cairo_t* cr, TColor color)
{
    TColor c = ColorToRGB(color);
    cairo_set_source_rgb(cr, GetRValue(c) / 255.0, GetGValue(c) / 255.0, GetBValue(c) / 255.0);
}

void ThrowCairoError(const std::string& what, cairo_status_t status)
{
    throw rtl::Exception(rtl::Format("%s: %s", what.c_str(), cairo_status_to_string(status)));
}

} // namespace detail

namespace {

detail::SurfacePtr NewImage(int width, int height)
{
    // Image surfaces start zeroed, which is black in this format.
    detail::SurfacePtr s(cairo_image_surface_create(CAIRO_FORMAT_RGB24, std::max(width, 0), std::max(height, 0)));
    if (cairo_surface_status(s.get()) != CAIRO_STATUS_SUCCESS)
        detail::ThrowCairoError(rtl::Format("Cannot create a %d x %d image", width, height),
                                cairo_surface_status(s.get()));
    return s;
}

bool SetPen(cairo_t* cr, const TPen& pen)
{
    if (pen.Style == PenStyle::psClear) return false;
    SetSourceColor(cr, pen.Color);
    double width = std::max(pen.Width, 1);
    cairo_set_line_width(cr, width);
    static const double kDash[] = {18, 6};
    static const double kDot[] = {3, 3};
    switch (pen.Style) {
    case PenStyle::psDash: cairo_set_dash(cr, kDash, 2, 0); break;
    case PenStyle::psDot: cairo_set_dash(cr, kDot, 2, 0); break;
    default: cairo_set_dash(cr, nullptr, 0, 0); break;
    }
    return true;
}

bool SetBrush(cairo_t* cr, const TBrush& brush)
{
    if (brush.Style == BrushStyle::bsClear) return false;
    SetSourceColor(cr, brush.Color);
    return true;
}

// Fills and outlines the current path, as GDI's closed figures do.
void FillAndStroke(cairo_t* cr, const TBrush& brush, const TPen& pen)
{
    if (SetBrush(cr, brush)) cairo_fill_preserve(cr);
    if (SetPen(cr, pen)) cairo_stroke_preserve(cr);
    cairo_new_path(cr);
}

// The ellipse inscribed in a bounding box, in the coordinates of pixel
// centres: a 1-pixel outline on it covers exactly the box's pixels.
struct EllipseFrame {
    double cx, cy, rx, ry;
    bool valid;
};

EllipseFrame FrameOf(int left, int top, int right, int bottom)
{
    if (right < left) std::swap(left, right);
    if (bottom < top) std::swap(top, bottom);
    EllipseFrame e{(left + right) / 2.0, (top + bottom) / 2.0, (right - left) / 2.0 - 0.5, (bottom - top) / 2.0 - 0.5,
                   right > left && bottom > top};
    // A box one pixel across degenerates to a line; keep the matrix invertible.
    e.rx = std::max(e.rx, 0.25);
    e.ry = std::max(e.ry, 0.25);
    return e;
}

double AngleOf(const EllipseFrame& e, int x, int y)
{
    return std::atan2((y + 0.5 - e.cy) / e.ry, (x + 0.5 - e.cx) / e.rx);
}

enum class ArcShape { arc, chord, pie };

void ArcPath(cairo_t* cr, const EllipseFrame& e, double from, double to, ArcShape shape)
{
    // Counter-clockwise on screen is the direction of decreasing angle here,
    // as the y axis points down. Equal rays mean the whole ellipse.
    if (to >= from) to -= 2 * std::numbers::pi;
    {
        SavedState state(cr);
        cairo_translate(cr, e.cx, e.cy);
        cairo_scale(cr, e.rx, e.ry);
        if (shape == ArcShape::pie) cairo_move_to(cr, 0, 0);
        cairo_arc_negative(cr, 0, 0, 1, from, to);
        if (shape != ArcShape::arc) cairo_close_path(cr);
    }
}

} // namespace

void CanvasImpl::Attach(detail::SurfacePtr s, int w, int h, bool ownsImage)
{
    detail::ContextPtr context(cairo_create(s.get()));
    if (cairo_status(context.get()) != CAIRO_STATUS_SUCCESS)
        detail::ThrowCairoError("Cannot draw on the surface", cairo_status(context.get()));
    cairo_set_antialias(context.get(), CAIRO_ANTIALIAS_NONE);
    cairo_set_line_cap(context.get(), CAIRO_LINE_CAP_BUTT);
    cairo_set_line_join(context.get(), CAIRO_LINE_JOIN_MITER);
    cr = std::move(context);
    surface = std::move(s);
    width = std::max(w, 0);
    height = std::max(h, 0);
    owned = ownsImage;
    clip = TRect{0, 0, width, height};
    ApplyClip();
}

void CanvasImpl::ApplyClip()
{
    cairo_reset_clip(cr.get());
    cairo_new_path(cr.get());
    cairo_rectangle(cr.get(), clip.Left, clip.Top, clip.Width(), clip.Height());
    cairo_clip(cr.get());
}

Canvas::Canvas(std::unique_ptr<CanvasImpl> impl) : impl_(std::move(impl)) {}

Canvas::Canvas(int width, int height) : impl_(std::make_unique<CanvasImpl>())
{
    impl_->Attach(NewImage(width, height), width, height, true);
}

Canvas::Canvas(const Bitmap& bitmap) : Canvas(bitmap.Width(), bitmap.Height()) { Draw(0, 0, bitmap); }

Canvas::~Canvas() = default;
Canvas::Canvas(Canvas&&) noexcept = default;
Canvas& Canvas::operator=(Canvas&&) noexcept = default;

int Canvas::Width() const { return impl_->width; }
int Canvas::Height() const { return impl_->height; }
TRect Canvas::ClipRect() const { return impl_->clip; }

Canvas Canvas::SubCanvas(const TRect& rect) const
{
    TRect r = rect;
    r.Right = std::max(r.Right, r.Left);
    r.Bottom = std::max(r.Bottom, r.Top);
    detail::SurfacePtr sub(
        cairo_surface_create_for_rectangle(impl_->surface.get(), r.Left, r.Top, r.Width(), r.Height()));
    if (cairo_surface_status(sub.get()) != CAIRO_STATUS_SUCCESS)
        detail::ThrowCairoError("Cannot draw on a part of the surface", cairo_surface_status(sub.get()));
    auto impl = std::make_unique<CanvasImpl>();
    impl->Attach(std::move(sub), r.Width(), r.Height(), false);
    // The parent's clip still applies, moved into the new origin.
    impl->clip = Intersect(impl->clip,
                           TRect{impl_->clip.Left - r.Left, impl_->clip.Top - r.Top, impl_->clip.Right - r.Left,
                                 impl_->clip.Bottom - r.Top});
    impl->ApplyClip();
    return Canvas(std::move(impl));
}

void Canvas::SetSize(int width, int height)
{
    if (!impl_->owned) throw rtl::Exception("Cannot change the size of a window's canvas");
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == impl_->width && height == impl_->height) return;
    detail::SurfacePtr image = NewImage(width, height);
    {
        detail::ContextPtr copy(cairo_create(image.get()));
        cairo_set_source_surface(copy.get(), impl_->surface.get(), 0, 0);
        cairo_set_operator(copy.get(), CAIRO_OPERATOR_SOURCE);
        cairo_rectangle(copy.get(), 0, 0, std::min(width, impl_->width), std::min(height, impl_->height));
        cairo_fill(copy.get());
    }
    impl_->Attach(std::move(image), width, height, true);
}

void Canvas::FillRect(const TRect& rect)
{
    cairo_t* cr = impl_->cr.get();
    if (rect.IsEmpty() || !SetBrush(cr, Brush)) return;
    cairo_rectangle(cr, rect.Left, rect.Top, rect.Width(), rect.Height());
    cairo_fill(cr);
}

void Canvas::FrameRect(const TRect& rect)
{
    cairo_t* cr = impl_->cr.get();
    if (rect.IsEmpty() || !SetBrush(cr, Brush)) return;
    // The outer rectangle minus the inner one, filled with the even-odd rule.
    SavedState state(cr);
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
    cairo_rectangle(cr, rect.Left, rect.Top, rect.Width(), rect.Height());
    if (rect.Width() > 2 && rect.Height() > 2)
        cairo_rectangle(cr, rect.Left + 1, rect.Top + 1, rect.Width() - 2, rect.Height() - 2);
    cairo_fill(cr);
}

void Canvas::Rectangle(int left, int top, int right, int bottom)
{
    if (right < left) std::swap(left, right);
    if (bottom < top) std::swap(top, bottom);
    if (right == left || bottom == top) return;
    cairo_t* cr = impl_->cr.get();
    if (SetBrush(cr, Brush)) {
        cairo_rectangle(cr, left, top, right - left, bottom - top);
        cairo_fill(cr);
    }
    if (SetPen(cr, Pen)) {
        cairo_rectangle(cr, left + 0.5, top + 0.5, right - left - 1, bottom - top - 1);
        cairo_stroke(cr);
    }
}

void Canvas::Ellipse(int left, int top, int right, int bottom)
{
    EllipseFrame e = FrameOf(left, top, right, bottom);
    if (!e.valid) return;
    cairo_t* cr = impl_->cr.get();
    ArcPath(cr, e, 0, 0, ArcShape::chord);
    FillAndStroke(cr, Brush, Pen);
}

void Canvas::Pie(int left, int top, int right, int bottom, int x1, int y1, int x2, int y2)
{
    EllipseFrame e = FrameOf(left, top, right, bottom);
    if (!e.valid) return;
    cairo_t* cr = impl_->cr.get();
    ArcPath(cr, e, AngleOf(e, x1, y1), AngleOf(e, x2, y2), ArcShape::pie);
    FillAndStroke(cr, Brush, Pen);
}

void Canvas::Chord(int left, int top, int right, int bottom, int x1, int y1, int x2, int y2)
{
    EllipseFrame e = FrameOf(left, top, right, bottom);
    if (!e.valid) return;
    cairo_t* cr = impl_->cr.get();
    ArcPath(cr, e, AngleOf(e, x1, y1), AngleOf(e, x2, y2), ArcShape::chord);
    FillAndStroke(cr, Brush, Pen);
}

void Canvas::Arc(int left, int top, int right, int bottom, int x1, int y1, int x2, int y2)
{
    EllipseFrame e = FrameOf(left, top, right, bottom);
    if (!e.valid) return;
    cairo_t* cr = impl_->cr.get();
    ArcPath(cr, e, AngleOf(e, x1, y1), AngleOf(e, x2, y2), ArcShape::arc);
    if (SetPen(cr, Pen)) cairo_stroke_preserve(cr);
    cairo_new_path(cr);
}

void Canvas::Polygon(std::span<const TPoint> points)
{
    if (points.size() < 2) return;
    cairo_t* cr = impl_->cr.get();
    SavedState state(cr);
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD); // GDI's default filling mode
    cairo_move_to(cr, points[0].X + 0.5, points[0].Y + 0.5);
    for (size_t i = 1; i < points.size(); ++i) cairo_line_to(cr, points[i].X + 0.5, points[i].Y + 0.5);
    cairo_close_path(cr);
    FillAndStroke(cr, Brush, Pen);
}

void Canvas::Polyline(std::span<const TPoint> points)
{
    if (points.empty()) return;
    MoveTo(points[0].X, points[0].Y);
    for (size_t i = 1; i < points.size(); ++i) LineTo(points[i].X, points[i].Y);
}

void Canvas::MoveTo(int x, int y) { penPos_ = TPoint{x, y}; }

void Canvas::LineTo(int x, int y)
{
    cairo_t* cr = impl_->cr.get();
    TPoint from = penPos_;
    penPos_ = TPoint{x, y};
    if (from == penPos_ || !SetPen(cr, Pen)) return;
    // Through pixel centres with butt ends: the end point itself stays unpainted.
    cairo_move_to(cr, from.X + 0.5, from.Y + 0.5);
    cairo_line_to(cr, x + 0.5, y + 0.5);
    cairo_stroke(cr);
}

TPoint Canvas::PenPos() const { return penPos_; }

void Canvas::SetPixel(int x, int y, TColor color)
{
    cairo_t* cr = impl_->cr.get();
    SetSourceColor(cr, color);
    cairo_rectangle(cr, x, y, 1, 1);
    cairo_fill(cr);
}

void Canvas::IntersectClipRect(const TRect& rect)
{
    impl_->clip = Intersect(impl_->clip, rect);
    impl_->ApplyClip();
}

void Canvas::ResetClip()
{
    impl_->clip = TRect{0, 0, impl_->width, impl_->height};
    impl_->ApplyClip();
}

void Canvas::Flush() { cairo_surface_flush(impl_->surface.get()); }

Canvas CairoAccess::Wrap(cairo_surface_t* surface, int width, int height)
{
    if (surface == nullptr || cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS)
        throw rtl::Exception("Cannot draw on an invalid surface");
    auto impl = std::make_unique<CanvasImpl>();
    impl->Attach(detail::SurfacePtr(cairo_surface_reference(surface)), width, height, false);
    return Canvas(std::move(impl));
}

cairo_surface_t* CairoAccess::Surface(const Canvas& canvas) { return canvas.impl_->surface.get(); }
cairo_t* CairoAccess::Context(const Canvas& canvas) { return canvas.impl_->cr.get(); }

} // namespace gdi
