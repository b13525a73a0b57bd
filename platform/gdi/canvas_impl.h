#pragma once
// The state behind a gdi::Canvas, shared by its source files.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/gdi/cairo_handles.h"
#include "platform/gdi/canvas.h"

namespace gdi {

struct CanvasImpl {
    detail::SurfacePtr surface;
    detail::ContextPtr cr;
    int width = 0;
    int height = 0;
    bool owned = false; // an image surface made by the canvas itself
    TRect clip;

    // Sets up a fresh context on surface with the whole canvas as clip.
    void Attach(detail::SurfacePtr s, int w, int h, bool ownsImage);
    void ApplyClip();
};

namespace detail {

// Pixels as 0x00RRGGBB words, one row after the other.
struct PixelBlock {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
    uint32_t* Row(int y) { return pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width); }
    const uint32_t* Row(int y) const { return pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width); }
};

// Reads rect (which must lie inside the surface) from any kind of surface.
PixelBlock ReadPixels(const CanvasImpl& impl, const TRect& rect);
// Writes block with its top-left corner at (x, y), honouring the clip. The
// block's words are lent to cairo for the copy.
void WritePixels(CanvasImpl& impl, int x, int y, PixelBlock& block);

void SetSourceColor(cairo_t* cr, TColor color);
[[noreturn]] void ThrowCairoError(const std::string& what, cairo_status_t status);

} // namespace detail
} // namespace gdi
