// Text output with pango. The layout's font comes from the canvas's TFont;
// glyphs the face lacks come from fontconfig's fallback fonts.
#include <algorithm>
#include <memory>

#include "platform/gdi/canvas.h"
#include "platform/gdi/canvas_impl.h"

namespace gdi {

namespace {

constexpr int kDefaultEmPixels = 11; // 8 points at 96 pixels per inch
// Larger glyphs would only cost memory: no surface here is that tall.
constexpr int kMaxEmPixels = 2048;

void ApplyFontOptions(PangoContext* context, FontQuality quality)
{
    detail::FontOptionsPtr options(cairo_font_options_create());
    cairo_font_options_set_antialias(
        options.get(), quality == FontQuality::fqNonAntialiased ? CAIRO_ANTIALIAS_NONE : CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(options.get(), CAIRO_HINT_STYLE_FULL);
    cairo_font_options_set_hint_metrics(options.get(), CAIRO_HINT_METRICS_ON);
    pango_cairo_context_set_font_options(context, options.get());
}

detail::FontDescriptionPtr Describe(const TFont& font, int emPixels)
{
    detail::FontDescriptionPtr desc(pango_font_description_new());
    std::string family = MapFontFamily(font.Name);
    pango_font_description_set_family(desc.get(), family.c_str());
    pango_font_description_set_absolute_size(desc.get(), static_cast<double>(emPixels) * PANGO_SCALE);
    pango_font_description_set_weight(desc.get(), (font.Style & fsBold) ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_style(desc.get(), (font.Style & fsItalic) ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    return desc;
}

// The em size in pixels: a positive height is the whole cell, so scale it by
// the face's em-to-cell ratio.
int EmPixels(PangoContext* context, const TFont& font)
{
    if (font.Height == 0) return kDefaultEmPixels;
    if (font.Height < 0) return font.Height < -kMaxEmPixels ? kMaxEmPixels : -font.Height;
    int cellHeight = std::min(font.Height, kMaxEmPixels);
    detail::FontDescriptionPtr desc = Describe(font, cellHeight);
    detail::FontMetricsPtr metrics(pango_context_get_metrics(context, desc.get(), nullptr));
    int cell = pango_font_metrics_get_ascent(metrics.get()) + pango_font_metrics_get_descent(metrics.get());
    if (cell <= 0) return cellHeight;
    double em = static_cast<double>(cellHeight) * cellHeight * PANGO_SCALE / cell;
    return std::max(1, static_cast<int>(em + 0.5));
}

detail::LayoutPtr MakeLayout(cairo_t* cr, const TFont& font, const std::string& text)
{
    detail::LayoutPtr layout(pango_cairo_create_layout(cr));
    PangoContext* context = pango_layout_get_context(layout.get());
    ApplyFontOptions(context, font.Quality);
    pango_layout_context_changed(layout.get());
    detail::FontDescriptionPtr desc = Describe(font, EmPixels(context, font));
    pango_layout_set_font_description(layout.get(), desc.get());
    if (font.Style & (fsUnderline | fsStrikeOut)) {
        detail::AttrListPtr attrs(pango_attr_list_new());
        if (font.Style & fsUnderline)
            pango_attr_list_insert(attrs.get(), pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
        if (font.Style & fsStrikeOut) pango_attr_list_insert(attrs.get(), pango_attr_strikethrough_new(TRUE));
        pango_layout_set_attributes(layout.get(), attrs.get());
    }
    // Invalid UTF-8 is shown rather than refused: pango would drop the text.
    if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) {
        pango_layout_set_text(layout.get(), text.data(), static_cast<int>(text.size()));
    } else {
        std::unique_ptr<gchar, decltype(&g_free)> valid(
            g_utf8_make_valid(text.data(), static_cast<gssize>(text.size())), &g_free);
        pango_layout_set_text(layout.get(), valid.get(), -1);
    }
    return layout;
}

TSize ExtentOf(PangoLayout* layout)
{
    PangoRectangle logical;
    pango_layout_get_pixel_extents(layout, nullptr, &logical);
    return TSize{logical.width, logical.height};
}

} // namespace

TSize Canvas::TextExtent(const std::string& text) const
{
    detail::LayoutPtr layout = MakeLayout(impl_->cr.get(), Font, text);
    return ExtentOf(layout.get());
}

void Canvas::TextOut(int x, int y, const std::string& text)
{
    cairo_t* cr = impl_->cr.get();
    detail::LayoutPtr layout = MakeLayout(cr, Font, text);
    if (Brush.Style == BrushStyle::bsSolid) {
        TSize size = ExtentOf(layout.get());
        detail::SetSourceColor(cr, Brush.Color);
        cairo_rectangle(cr, x, y, size.cx, size.cy);
        cairo_fill(cr);
    }
    detail::SetSourceColor(cr, Font.Color);
    cairo_move_to(cr, x, y);
    pango_cairo_show_layout(cr, layout.get());
    cairo_new_path(cr);
}

void Canvas::TextRect(const TRect& rect, int x, int y, const std::string& text)
{
    if (rect.IsEmpty()) return;
    cairo_t* cr = impl_->cr.get();
    detail::SavedState state(cr);
    cairo_rectangle(cr, rect.Left, rect.Top, rect.Width(), rect.Height());
    cairo_clip(cr);
    TextOut(x, y, text);
}

} // namespace gdi
