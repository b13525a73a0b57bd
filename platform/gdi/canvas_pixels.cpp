// Pixel-level work of the canvas: copies and raster combinations between
// canvases and bitmaps, single pixels, PNG output. Cairo's own operators
// combine colours by alpha, so the bitwise raster operations are done here on
// the pixel words.
#include <algorithm>
#include <cassert>
#include <cstring>

#include "platform/gdi/canvas.h"
#include "platform/gdi/canvas_impl.h"
#include "platform/rtl/exception.h"
#include "platform/rtl/format.h"

namespace gdi {

namespace detail {

namespace {

// An RGB24 image over a pixel block's words (no copy).
SurfacePtr ImageOver(PixelBlock& block)
{
    int stride = block.width * 4;
    assert(cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, block.width) == stride);
    return SurfacePtr(cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(block.pixels.data()),
                                                          CAIRO_FORMAT_RGB24, block.width, block.height, stride));
}

} // namespace

PixelBlock ReadPixels(const CanvasImpl& impl, const TRect& rect)
{
    PixelBlock block;
    block.width = std::max(rect.Width(), 0);
    block.height = std::max(rect.Height(), 0);
    block.pixels.assign(static_cast<size_t>(block.width) * static_cast<size_t>(block.height), 0);
    if (block.pixels.empty()) return block;
    // Painting into our own image works for every kind and format of surface.
    SurfacePtr image = ImageOver(block);
    ContextPtr cr(cairo_create(image.get()));
    cairo_surface_flush(impl.surface.get());
    cairo_set_source_surface(cr.get(), impl.surface.get(), -rect.Left, -rect.Top);
    cairo_set_operator(cr.get(), CAIRO_OPERATOR_SOURCE);
    cairo_paint(cr.get());
    cr.reset();
    cairo_surface_flush(image.get());
    for (uint32_t& p : block.pixels) p &= 0x00FFFFFF;
    return block;
}

void WritePixels(CanvasImpl& impl, int x, int y, PixelBlock& block)
{
    if (block.pixels.empty()) return;
    SurfacePtr image = ImageOver(block);
    cairo_t* cr = impl.cr.get();
    SavedState state(cr);
    cairo_set_source_surface(cr, image.get(), x, y);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_rectangle(cr, x, y, block.width, block.height);
    cairo_fill(cr);
    cairo_surface_flush(impl.surface.get());
}

} // namespace detail

namespace {

uint32_t Combine(uint32_t dest, uint32_t src, CopyMode mode)
{
    switch (mode) {
    case CopyMode::cmSrcInvert: return dest ^ src;
    case CopyMode::cmSrcAnd: return dest & src;
    case CopyMode::cmSrcPaint: return dest | src;
    case CopyMode::cmSrcCopy: break;
    }
    return src;
}

TColor ColorOf(uint32_t word)
{
    return RGB(static_cast<uint8_t>(word >> 16), static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word));
}

} // namespace

TColor Canvas::Pixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= impl_->width || y >= impl_->height) return clNone;
    return ColorOf(detail::ReadPixels(*impl_, TRect{x, y, x + 1, y + 1}).pixels[0]);
}

void Canvas::CopyRect(const TRect& destRect, const Canvas& source, const TRect& srcRect, CopyMode mode)
{
    if (destRect.IsEmpty() || srcRect.IsEmpty()) return;
    if (mode == CopyMode::cmSrcCopy && &source != this) {
        cairo_t* cr = impl_->cr.get();
        detail::SavedState state(cr);
        cairo_rectangle(cr, destRect.Left, destRect.Top, destRect.Width(), destRect.Height());
        cairo_clip(cr);
        cairo_translate(cr, destRect.Left, destRect.Top);
        cairo_scale(cr, static_cast<double>(destRect.Width()) / srcRect.Width(),
                    static_cast<double>(destRect.Height()) / srcRect.Height());
        cairo_surface_flush(source.impl_->surface.get());
        cairo_set_source_surface(cr, source.impl_->surface.get(), -srcRect.Left, -srcRect.Top);
        cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
        cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
        cairo_rectangle(cr, srcRect.Left, srcRect.Top, srcRect.Width(), srcRect.Height());
        cairo_fill(cr);
        return;
    }
    // Pixel by pixel, over the part that both rectangles and the source hold.
    int w = std::min(destRect.Width(), srcRect.Width());
    int h = std::min(destRect.Height(), srcRect.Height());
    TRect src = Intersect(TRect{srcRect.Left, srcRect.Top, srcRect.Left + w, srcRect.Top + h},
                          TRect{0, 0, source.Width(), source.Height()});
    if (src.IsEmpty()) return;
    int dx = destRect.Left + (src.Left - srcRect.Left);
    int dy = destRect.Top + (src.Top - srcRect.Top);
    TRect dest = Intersect(TRect{dx, dy, dx + src.Width(), dy + src.Height()}, impl_->clip);
    if (dest.IsEmpty()) return;
    src = TRect{src.Left + (dest.Left - dx), src.Top + (dest.Top - dy), 0, 0};
    src.Right = src.Left + dest.Width();
    src.Bottom = src.Top + dest.Height();

    detail::PixelBlock from = detail::ReadPixels(*source.impl_, src);
    detail::PixelBlock to = detail::ReadPixels(*impl_, dest);
    for (size_t i = 0; i < to.pixels.size(); ++i) to.pixels[i] = Combine(to.pixels[i], from.pixels[i], mode);
    detail::WritePixels(*impl_, dest.Left, dest.Top, to);
}

void Canvas::Draw(int x, int y, const Canvas& source, CopyMode mode)
{
    CopyRect(TRect{x, y, x + source.Width(), y + source.Height()}, source, TRect{0, 0, source.Width(), source.Height()},
             mode);
}

void Canvas::Draw(int x, int y, const Bitmap& bitmap, CopyMode mode)
{
    if (bitmap.Width() == 0 || bitmap.Height() == 0) return;
    detail::PixelBlock block;
    block.width = bitmap.Width();
    block.height = bitmap.Height();
    block.pixels.resize(static_cast<size_t>(block.width) * static_cast<size_t>(block.height));
    for (int row = 0; row < block.height; ++row) {
        const uint8_t* p = bitmap.ScanLine(row);
        uint32_t* out = block.Row(row);
        for (int col = 0; col < block.width; ++col, p += 3)
            out[col] = (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[1]) << 8) | p[0];
    }
    if (mode == CopyMode::cmSrcCopy) {
        detail::WritePixels(*impl_, x, y, block);
        return;
    }
    TRect dest = Intersect(TRect{x, y, x + block.width, y + block.height}, impl_->clip);
    if (dest.IsEmpty()) return;
    detail::PixelBlock to = detail::ReadPixels(*impl_, dest);
    for (int row = 0; row < to.height; ++row)
        for (int col = 0; col < to.width; ++col)
            to.Row(row)[col] = Combine(to.Row(row)[col], block.Row(row + dest.Top - y)[col + dest.Left - x], mode);
    detail::WritePixels(*impl_, dest.Left, dest.Top, to);
}

Bitmap Canvas::ToBitmap(const TRect& rect) const
{
    TRect r = Intersect(rect, TRect{0, 0, impl_->width, impl_->height});
    Bitmap bitmap(r.Width(), r.Height());
    if (r.IsEmpty()) return bitmap;
    detail::PixelBlock block = detail::ReadPixels(*impl_, r);
    for (int row = 0; row < block.height; ++row) {
        uint8_t* p = bitmap.ScanLine(row);
        const uint32_t* in = block.Row(row);
        for (int col = 0; col < block.width; ++col, p += 3) {
            p[0] = static_cast<uint8_t>(in[col]);
            p[1] = static_cast<uint8_t>(in[col] >> 8);
            p[2] = static_cast<uint8_t>(in[col] >> 16);
        }
    }
    return bitmap;
}

void Canvas::SaveToPng(const std::string& path) const
{
    if (impl_->width == 0 || impl_->height == 0)
        throw rtl::Exception(rtl::Format("Cannot write the PNG file %s: the picture is empty", path.c_str()));
    detail::PixelBlock block = detail::ReadPixels(*impl_, TRect{0, 0, impl_->width, impl_->height});
    detail::SurfacePtr image(cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(block.pixels.data()),
                                                                 CAIRO_FORMAT_RGB24, block.width, block.height,
                                                                 block.width * 4));
    cairo_status_t status = cairo_surface_write_to_png(image.get(), path.c_str());
    if (status != CAIRO_STATUS_SUCCESS)
        detail::ThrowCairoError(rtl::Format("Cannot write the PNG file %s", path.c_str()), status);
}

} // namespace gdi
