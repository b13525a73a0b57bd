#pragma once
// Internal to the X11 backend: an owned display connection, opened after
// XInitThreads and with an error handler that reports its errors instead of
// exiting (the errors of the host program's connections go to the host's).
#include <X11/Xlib.h>

#include <memory>

namespace ui::x11 {

void CloseDisplay(Display* display);
struct DisplayCloser {
    void operator()(Display* d) const { CloseDisplay(d); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

// A plain connection to $DISPLAY, tried again for a moment while the server
// resets; nullptr when it cannot be made. Not one of ours: its errors go to
// whatever handler the process had.
Display* ConnectToServer();
// Opens $DISPLAY; nullptr when it cannot be opened. A connection that
// breaks later (the server ends) does not end the process: it is marked
// lost, and its owner stops using it.
DisplayPtr OpenDisplay();
// Whether the connection broke.
bool DisplayLost(Display* display);
// Forgets a connection that is being closed.
void ForgetDisplay(Display* display);

// Converts an XImage in a TrueColor visual to 0x00RRGGBB pixels.
unsigned long ScalePixel(unsigned long pixel, unsigned long mask);

// Owner of memory Xlib hands out (property data, lists, cursor images).
struct XFreeDeleter {
    void operator()(void* p) const
    {
        if (p != nullptr) XFree(p);
    }
};
template <class T> using XFreePtr = std::unique_ptr<T, XFreeDeleter>;

} // namespace ui::x11
