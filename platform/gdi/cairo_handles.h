#pragma once
// Owners for the cairo and pango objects the canvas works with.
#include <cairo.h>
#include <pango/pangocairo.h>

#include <memory>

namespace gdi::detail {

struct SurfaceDeleter {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextDeleter {
    void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};
struct FontOptionsDeleter {
    void operator()(cairo_font_options_t* o) const { cairo_font_options_destroy(o); }
};
struct GObjectDeleter {
    void operator()(void* object) const { g_object_unref(object); }
};
struct FontDescriptionDeleter {
    void operator()(PangoFontDescription* d) const { pango_font_description_free(d); }
};
struct FontMetricsDeleter {
    void operator()(PangoFontMetrics* m) const { pango_font_metrics_unref(m); }
};
struct AttrListDeleter {
    void operator()(PangoAttrList* l) const { pango_attr_list_unref(l); }
};

using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;
using ContextPtr = std::unique_ptr<cairo_t, ContextDeleter>;
using FontOptionsPtr = std::unique_ptr<cairo_font_options_t, FontOptionsDeleter>;
using LayoutPtr = std::unique_ptr<PangoLayout, GObjectDeleter>;
using FontDescriptionPtr = std::unique_ptr<PangoFontDescription, FontDescriptionDeleter>;
using FontMetricsPtr = std::unique_ptr<PangoFontMetrics, FontMetricsDeleter>;
using AttrListPtr = std::unique_ptr<PangoAttrList, AttrListDeleter>;

// Restores the context's state when leaving a scope.
class SavedState {
public:
    explicit SavedState(cairo_t* cr) : cr_(cr) { cairo_save(cr_); }
    ~SavedState() { cairo_restore(cr_); }
    SavedState(const SavedState&) = delete;
    SavedState& operator=(const SavedState&) = delete;

private:
    cairo_t* cr_;
};

} // namespace gdi::detail
