#pragma once
// Asks a window to close the way a window manager's close button does: a
// WM_PROTOCOLS / WM_DELETE_WINDOW client message, sent from a connection of
// our own.
#include <X11/Xlib.h>

namespace testing_support {

inline bool SendDeleteWindow(unsigned long window)
{
    Display* d = XOpenDisplay(nullptr);
    if (!d) return false;
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = window;
    e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
    e.xclient.data.l[1] = CurrentTime;
    const Status ok = XSendEvent(d, window, False, NoEventMask, &e);
    XSync(d, False);
    XCloseDisplay(d);
    return ok != 0;
}

} // namespace testing_support
