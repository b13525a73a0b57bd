#pragma once
// Small owners for cairo objects held by the toolkit.
#include <cairo.h>

#include <memory>

namespace ui {

struct CairoSurfaceDeleter {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
using CairoSurfacePtr = std::unique_ptr<cairo_surface_t, CairoSurfaceDeleter>;

struct CairoContextDeleter {
    void operator()(cairo_t* c) const { cairo_destroy(c); }
};
using CairoContextPtr = std::unique_ptr<cairo_t, CairoContextDeleter>;

} // namespace ui
