#include "platform/ui/screen_picture.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/ui/backend.h"
#include "platform/ui/x11_display.h"

namespace ui {
namespace {

struct XImageDeleter {
    void operator()(XImage* i) const { XDestroyImage(i); }
};
using XImagePtr = std::unique_ptr<XImage, XImageDeleter>;

using x11::XFreePtr;

// The top-level ancestor of w (the child of the root that holds it).
::Window TopLevelOf(Display* d, ::Window w)
{
    const ::Window root = DefaultRootWindow(d);
    for (int depth = 0; w != 0 && w != root && depth < 64; ++depth) {
        ::Window rootReturn = 0, parent = 0, *children = nullptr;
        unsigned n = 0;
        if (!XQueryTree(d, w, &rootReturn, &parent, &children, &n)) return 0;
        XFreePtr<::Window> owner(children);
        if (parent == root || parent == 0) return w;
        w = parent;
    }
    return 0;
}

::Window FocusTopLevel(Display* d)
{
    ::Window focus = 0;
    int revert = 0;
    XGetInputFocus(d, &focus, &revert);
    if (focus == None || focus == PointerRoot) return 0;
    return TopLevelOf(d, focus);
}

::Window ActiveTopLevel(Display* d)
{
    const Atom active = XInternAtom(d, "_NET_ACTIVE_WINDOW", True);
    if (active != None) {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(d, DefaultRootWindow(d), active, 0, 1, False, XA_WINDOW, &type, &format, &count, &after,
                               &data) == Success) {
            XFreePtr<unsigned char> owner(data);
            if (data && count == 1 && format == 32) {
                const ::Window w = static_cast<::Window>(*reinterpret_cast<unsigned long*>(data));
                if (w) return w;
            }
        }
    }
    return FocusTopLevel(d);
}

// The window's rectangle on the screen; false when it cannot be read.
bool ScreenRect(Display* d, ::Window w, TRect& r)
{
    XWindowAttributes a;
    if (w == 0 || !XGetWindowAttributes(d, w, &a)) return false;
    int x = 0, y = 0;
    ::Window child = 0;
    if (!XTranslateCoordinates(d, w, DefaultRootWindow(d), 0, 0, &x, &y, &child)) return false;
    r = TRect{x, y, x + a.width, y + a.height};
    return true;
}

void ReadCursor(Display* d, TScreenPicture& out)
{
    int eventBase = 0, errorBase = 0;
    if (!XFixesQueryExtension(d, &eventBase, &errorBase)) return;
    XFreePtr<XFixesCursorImage> cursor(XFixesGetCursorImage(d));
    if (!cursor || cursor->width == 0 || cursor->height == 0) return;
    TCursorImage& c = out.Cursor;
    c.Position = TPoint{cursor->x, cursor->y};
    c.HotSpot = TPoint{cursor->xhot, cursor->yhot};
    c.Width = cursor->width;
    c.Height = cursor->height;
    c.Argb.resize(static_cast<size_t>(c.Width) * c.Height);
    // One pixel per unsigned long, whatever its width.
    for (size_t i = 0; i < c.Argb.size(); ++i) c.Argb[i] = static_cast<std::uint32_t>(cursor->pixels[i] & 0xFFFFFFFFu);
    out.HasCursor = true;
}

void CopyPixels(const XImage& image, TScreenPicture& out)
{
    const int w = out.Width, h = out.Height;
    const bool direct = image.bits_per_pixel == 32 && image.red_mask == 0xFF0000 && image.green_mask == 0xFF00 &&
        image.blue_mask == 0xFF && image.byte_order == LSBFirst;
    for (int row = 0; row < h; ++row) {
        std::uint32_t* line = out.Pixels.data() + static_cast<size_t>(row) * w;
        if (direct) {
            std::memcpy(line, image.data + static_cast<size_t>(row) * image.bytes_per_line, static_cast<size_t>(w) * 4);
            for (int col = 0; col < w; ++col) line[col] &= 0xFFFFFFu;
            continue;
        }
        for (int col = 0; col < w; ++col) {
            const unsigned long p = XGetPixel(const_cast<XImage*>(&image), col, row);
            line[col] = static_cast<std::uint32_t>((x11::ScalePixel(p, image.red_mask) << 16) |
                                                   (x11::ScalePixel(p, image.green_mask) << 8) |
                                                   x11::ScalePixel(p, image.blue_mask));
        }
    }
}

bool CaptureX11(bool activeWindowOnly, TScreenPicture& out)
{
    auto display = x11::OpenDisplay();
    if (!display) return false;
    Display* d = display.get();
    const int screen = DefaultScreen(d);
    const Visual* visual = DefaultVisual(d, screen);
    if (visual->c_class != TrueColor) return false;
    const ::Window root = RootWindow(d, screen);
    const TRect screenRect{0, 0, DisplayWidth(d, screen), DisplayHeight(d, screen)};
    TRect area = screenRect;
    if (activeWindowOnly) {
        TRect windowRect;
        if (ScreenRect(d, ActiveTopLevel(d), windowRect)) {
            area = gdi::Intersect(windowRect, screenRect);
            if (area.IsEmpty()) area = TRect{windowRect.Left, windowRect.Top, windowRect.Left, windowRect.Top};
        }
    }
    TScreenPicture pic;
    pic.Origin = TPoint{area.Left, area.Top};
    pic.Width = std::max(1, area.Width());
    pic.Height = std::max(1, area.Height());
    pic.Pixels.assign(static_cast<size_t>(pic.Width) * pic.Height, 0);
    if (!area.IsEmpty()) {
        XImagePtr image(XGetImage(d, root, area.Left, area.Top, static_cast<unsigned>(area.Width()),
                                  static_cast<unsigned>(area.Height()), AllPlanes, ZPixmap));
        if (!image) return false;
        CopyPixels(*image, pic);
    }
    pic.HasFocusRect = ScreenRect(d, FocusTopLevel(d), pic.FocusRect);
    ReadCursor(d, pic);
    out = std::move(pic);
    return true;
}

} // namespace

bool CaptureScreenPicture(bool activeWindowOnly, TScreenPicture& out)
{
    if (CurrentBackend() != BackendKind::bkX11) return false;
    return CaptureX11(activeWindowOnly, out);
}

} // namespace ui
