#pragma once
// Hosts a window-less control (the gauge) in a form: a child window over
// the control's bounds that paints the control, and repaints it at once when
// the control asks, so it moves even while the message loop is blocked.
#include "controls/graphic_control.h"
#include "platform/ui/window.h"

namespace converter::gui {

class GraphicControlHost : public ui::Window {
public:
    GraphicControlHost(ui::Window* parent, controls::TGraphicControl& control);
    ~GraphicControlHost() override;
    // Bounds of both the host window and the control, in the parent's client area.
    void SetBounds(int left, int top, int width, int height) override;
    void Paint(gdi::Canvas& canvas) override;

private:
    controls::TGraphicControl& control_;
};

} // namespace converter::gui
