#include "platform/ui/screen_capture.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>

#include <algorithm>

#include "platform/ui/backend.h"
#include "platform/ui/headless.h"
#include "platform/ui/x11_display.h"

namespace ui {
namespace {

struct XImageDeleter {
    void operator()(XImage* i) const { XDestroyImage(i); }
};
struct XFreeDeleter {
    void operator()(void* p) const { XFree(p); }
};

::Window ActiveTopLevel(Display* d)
{
    const ::Window root = DefaultRootWindow(d);
    Atom active = XInternAtom(d, "_NET_ACTIVE_WINDOW", True);
    if (active != None) {
        Atom type;
        int format;
        unsigned long count, after;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(d, root, active, 0, 1, False, XA_WINDOW, &type, &format, &count, &after, &data) ==
                Success &&
            data) {
            std::unique_ptr<unsigned char, XFreeDeleter> owner(data);
            ::Window w = count == 1 ? *reinterpret_cast<::Window*>(data) : 0;
            if (w) return w;
        }
    }
    // No window manager to ask: the window with the input focus, up to its
    // top-level ancestor.
    ::Window focus;
    int revert;
    XGetInputFocus(d, &focus, &revert);
    if (focus == None || focus == PointerRoot) return 0;
    for (;;) {
        ::Window rootReturn, parent, *children = nullptr;
        unsigned n = 0;
        if (!XQueryTree(d, focus, &rootReturn, &parent, &children, &n)) return 0;
        if (children) XFree(children);
        if (parent == root || parent == 0) return focus;
        focus = parent;
    }
}

void BlendCursor(Display* d, gdi::Bitmap& out, int originX, int originY)
{
    int eventBase, errorBase;
    if (!XFixesQueryExtension(d, &eventBase, &errorBase)) return;
    std::unique_ptr<XFixesCursorImage, XFreeDeleter> cursor(XFixesGetCursorImage(d));
    if (!cursor) return;
    const int left = cursor->x - cursor->xhot - originX;
    const int top = cursor->y - cursor->yhot - originY;
    for (int y = 0; y < cursor->height; ++y) {
        const int by = top + y;
        if (by < 0 || by >= out.Height()) continue;
        uint8_t* row = out.ScanLine(by);
        for (int x = 0; x < cursor->width; ++x) {
            const int bx = left + x;
            if (bx < 0 || bx >= out.Width()) continue;
            // Premultiplied ARGB, one pixel per unsigned long.
            const unsigned long p = cursor->pixels[y * cursor->width + x];
            const unsigned a = (p >> 24) & 0xFF;
            if (a == 0) continue;
            uint8_t* px = row + bx * 3;
            const unsigned rgb[3] = {static_cast<unsigned>(p & 0xFF), static_cast<unsigned>((p >> 8) & 0xFF),
                                     static_cast<unsigned>((p >> 16) & 0xFF)};
            for (int k = 0; k < 3; ++k) px[k] = static_cast<uint8_t>(std::min(255u, rgb[k] + px[k] * (255 - a) / 255));
        }
    }
}

bool CaptureX11(CaptureArea area, bool withCursor, gdi::Bitmap& out)
{
    auto display = x11::OpenDisplay();
    if (!display) return false;
    Display* d = display.get();
    const int screen = DefaultScreen(d);
    const ::Window root = RootWindow(d, screen);
    int x = 0, y = 0, w = DisplayWidth(d, screen), h = DisplayHeight(d, screen);
    if (area == CaptureArea::caActiveWindow) {
        const ::Window active = ActiveTopLevel(d);
        XWindowAttributes a;
        if (active && XGetWindowAttributes(d, active, &a)) {
            ::Window child;
            XTranslateCoordinates(d, active, root, 0, 0, &x, &y, &child);
            // The visible part only: clipped to the screen.
            const int right = std::min(x + a.width, w), bottom = std::min(y + a.height, h);
            x = std::max(0, x);
            y = std::max(0, y);
            w = right - x;
            h = bottom - y;
        }
    }
    if (w <= 0 || h <= 0) return false;
    std::unique_ptr<XImage, XImageDeleter> image(
        XGetImage(d, root, x, y, static_cast<unsigned>(w), static_cast<unsigned>(h), AllPlanes, ZPixmap));
    if (!image) return false;
    gdi::Bitmap bmp(w, h);
    for (int row = 0; row < h; ++row) {
        uint8_t* line = bmp.ScanLine(row);
        for (int col = 0; col < w; ++col) {
            const unsigned long p = XGetPixel(image.get(), col, row);
            line[col * 3 + 0] = static_cast<uint8_t>(x11::ScalePixel(p, image->blue_mask));
            line[col * 3 + 1] = static_cast<uint8_t>(x11::ScalePixel(p, image->green_mask));
            line[col * 3 + 2] = static_cast<uint8_t>(x11::ScalePixel(p, image->red_mask));
        }
    }
    if (withCursor) BlendCursor(d, bmp, x, y);
    out = std::move(bmp);
    return true;
}

} // namespace

bool CaptureScreen(CaptureArea area, bool withCursor, gdi::Bitmap& out)
{
    if (CurrentBackend() == BackendKind::bkX11) return CaptureX11(area, withCursor, out);
    gdi::Bitmap screen = headless::CaptureScreen();
    if (area == CaptureArea::caActiveWindow) {
        const TRect r = gdi::Intersect(headless::ActiveWindowRect(), TRect{0, 0, screen.Width(), screen.Height()});
        if (!r.IsEmpty()) {
            gdi::Bitmap part(r.Width(), r.Height());
            part.Draw(-r.Left, -r.Top, screen);
            out = std::move(part);
            return true;
        }
    }
    out = std::move(screen);
    return true;
}

} // namespace ui
