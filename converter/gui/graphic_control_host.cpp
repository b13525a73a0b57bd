#include "converter/gui/graphic_control_host.h"

namespace converter::gui {

GraphicControlHost::GraphicControlHost(ui::Window* parent, controls::TGraphicControl& control)
    : Window(parent), control_(control)
{
    control_.ParentChanged(parent ? parent->Color : gdi::clBtnFace, parent ? parent->Font : gdi::TFont{});
    control_.SetHost(this);
    control_.SetRepaintHandler([this](controls::TGraphicControl&) { Repaint(); });
    control_.SetInvalidateHandler([this](controls::TGraphicControl&, const gdi::TRect&) { Invalidate(); });
    Window::SetBounds(control_.Left(), control_.Top(), control_.Width(), control_.Height());
}

GraphicControlHost::~GraphicControlHost()
{
    control_.SetRepaintHandler(nullptr);
    control_.SetInvalidateHandler(nullptr);
    control_.SetHost(nullptr);
}

void GraphicControlHost::SetBounds(int left, int top, int width, int height)
{
    control_.SetBounds(left, top, width, height);
    Window::SetBounds(left, top, width, height);
}

void GraphicControlHost::Paint(gdi::Canvas& canvas)
{
    if (control_.Visible())
        control_.Paint(canvas);
    else
        Window::Paint(canvas);
}

} // namespace converter::gui
