#pragma once
// Platform-only access to the cairo objects behind a canvas: the window
// toolkit wraps a window's surface in a canvas and draws its own controls
// with it. The system's own code uses canvas.h only.
#include <cairo.h>

#include "platform/gdi/canvas.h"

namespace gdi {

class CairoAccess {
public:
    // A canvas drawing on an existing surface of the given size. The canvas
    // takes its own reference to the surface and releases it when destroyed.
    static Canvas Wrap(cairo_surface_t* surface, int width, int height);
    static cairo_surface_t* Surface(const Canvas& canvas);
    // The canvas's drawing context; its state (clip, source) belongs to the canvas.
    static cairo_t* Context(const Canvas& canvas);
};

inline Canvas CanvasForSurface(cairo_surface_t* surface, int width, int height)
{
    return CairoAccess::Wrap(surface, width, height);
}

} // namespace gdi
