#pragma once
// A control without a window of its own: it is drawn on its parent's surface
// inside its bounds. The hosting window tells it how to get painted:
//
//  - the repaint handler paints the control now, before returning, on the
//    host's surface (used while the host's message loop is not running);
//  - the invalidate handler marks a rectangle of the host for its next paint.
//
// To paint, the host calls PaintOn(parentCanvas) (or Paint on a canvas whose
// origin is the control's top-left corner). See docs/gauge.md.
#include <functional>

#include "platform/gdi/canvas.h"
#include "platform/rtl/component.h"

namespace controls {

enum ControlStyle : unsigned {
    csFramed = 1u << 0, // draws a frame of its own
    csOpaque = 1u << 1, // paints its whole rectangle: the host need not paint beneath it
};

class TGraphicControl : public rtl::TComponent {
public:
    using RepaintHandler = std::function<void(TGraphicControl&)>;
    using InvalidateHandler = std::function<void(TGraphicControl&, const gdi::TRect& parentRect)>;

    explicit TGraphicControl(rtl::TComponent* owner = nullptr);
    // A control still hosted when it is destroyed means its host would call
    // into a destroyed object later: the program's ownership order is wrong,
    // and the process stops here with a message instead.
    ~TGraphicControl() override;

    // Bounds in the parent's client coordinates.
    int Left() const { return bounds_.Left; }
    int Top() const { return bounds_.Top; }
    int Width() const { return bounds_.Width(); }
    int Height() const { return bounds_.Height(); }
    gdi::TRect BoundsRect() const { return bounds_; }
    gdi::TRect ClientRect() const { return gdi::TRect{0, 0, Width(), Height()}; }
    void SetBounds(int left, int top, int width, int height);
    void SetLeft(int left) { SetBounds(left, Top(), Width(), Height()); }
    void SetTop(int top) { SetBounds(Left(), top, Width(), Height()); }
    void SetWidth(int width) { SetBounds(Left(), Top(), width, Height()); }
    void SetHeight(int height) { SetBounds(Left(), Top(), Width(), height); }

    unsigned Style() const { return style_; }

    // The usual appearance properties. Setting Color or Font clears the
    // matching Parent flag; the host passes its own with ParentChanged.
    gdi::TColor Color() const { return color_; }
    void SetColor(gdi::TColor color);
    bool ParentColor() const { return parentColor_; }
    void SetParentColor(bool value);
    const gdi::TFont& Font() const { return font_; }
    void SetFont(const gdi::TFont& font);
    bool ParentFont() const { return parentFont_; }
    void SetParentFont(bool value);
    void ParentChanged(gdi::TColor parentColor, const gdi::TFont& parentFont);
    bool Visible() const { return visible_; }
    void SetVisible(bool value);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value);

    // While loading from a stored layout, range checks between properties
    // are relaxed and nothing is painted.
    bool Loading() const { return loading_; }
    void BeginLoading() { loading_ = true; }
    void EndLoading();

    void SetRepaintHandler(RepaintHandler handler) { onRepaint_ = std::move(handler); }
    void SetInvalidateHandler(InvalidateHandler handler) { onInvalidate_ = std::move(handler); }
    // The window that hosts the control, set by the host while it lives.
    const void* Host() const { return host_; }
    void SetHost(const void* host) { host_ = host; }

    // Draws the control on canvas, whose origin is the control's top-left
    // corner and whose size is the control's.
    virtual void Paint(gdi::Canvas& canvas) = 0;
    // Draws the control on its parent's canvas, inside its bounds.
    void PaintOn(gdi::Canvas& parentCanvas);

    // Paints at once through the repaint handler (when shown and hosted).
    void Repaint();
    // Asks the host to paint the control's area with its next paint.
    void Invalidate();

protected:
    void SetStyle(unsigned style) { style_ = style; }
    virtual void Loaded() {}

private:
    bool Showing() const;

    gdi::TRect bounds_;
    unsigned style_ = 0;
    gdi::TColor color_ = gdi::clBtnFace;
    bool parentColor_ = true;
    gdi::TFont font_;
    bool parentFont_ = true;
    bool visible_ = true;
    bool enabled_ = true;
    bool loading_ = false;
    RepaintHandler onRepaint_;
    InvalidateHandler onInvalidate_;
    const void* host_ = nullptr;
};

} // namespace controls
