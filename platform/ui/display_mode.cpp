#include "platform/ui/display_mode.h"

#include <X11/Xlib.h>

#include <memory>

#include "platform/ui/backend.h"
#include "platform/ui/x11_display.h"

namespace ui {

bool QueryDisplayMode(TDisplayMode& mode)
{
    if (CurrentBackend() == BackendKind::bkHeadless) {
        // The headless desktop is made of 32-bit pixels.
        const TSize size = CreateHeadlessConnection()->ScreenSize();
        mode = TDisplayMode{size.cx, size.cy, 32};
        return true;
    }
    x11::DisplayPtr display = x11::OpenDisplay();
    if (!display) return false;
    const int screen = DefaultScreen(display.get());
    mode.Width = DisplayWidth(display.get(), screen);
    mode.Height = DisplayHeight(display.get(), screen);
    // The depth counts the colour bits; the pixel format says how many bits
    // each pixel takes, which is what the report shows.
    const int depth = DefaultDepth(display.get(), screen);
    mode.BitsPerPixel = depth;
    int count = 0;
    x11::XFreePtr<XPixmapFormatValues> formats(XListPixmapFormats(display.get(), &count));
    for (int i = 0; formats && i < count; ++i)
        if (formats.get()[i].depth == depth) mode.BitsPerPixel = formats.get()[i].bits_per_pixel;
    return true;
}

} // namespace ui
