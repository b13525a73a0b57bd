#include "platform/ui/x11_display.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <mutex>
#include <set>

#include "platform/ui/backend.h"

namespace ui::x11 {
namespace {

// Xlib's error handlers serve every connection of the process, the host
// program's too: ours report errors of our own connections and hand the
// others to the handler that was there before (the host's, or Xlib's own).
std::mutex g_displaysMutex;
std::set<Display*> g_ours;
std::set<Display*> g_lost;
std::atomic<XErrorHandler> g_previousError{nullptr};
std::atomic<XIOErrorHandler> g_previousIOError{nullptr};

bool IsOurs(Display* d)
{
    std::lock_guard lock(g_displaysMutex);
    return g_ours.count(d) != 0;
}

int ReportError(Display* d, XErrorEvent* e)
{
    if (!IsOurs(d)) {
        const XErrorHandler previous = g_previousError.load();
        return previous ? previous(d, e) : 0;
    }
    char text[256] = {};
    XGetErrorText(d, e->error_code, text, sizeof text);
    std::fprintf(stderr, "ui: X error %s (request %d.%d)\n", text, e->request_code, e->minor_code);
    return 0;
}

int ReportIOError(Display* d)
{
    if (!IsOurs(d))
        if (const XIOErrorHandler previous = g_previousIOError.load()) return previous(d);
    std::fprintf(stderr, "ui: the display connection was lost\n");
    return 0;
}

// Called instead of exit() when a connection breaks: the display is marked
// lost and Xlib returns to its caller, which then leaves it alone.
void ConnectionBroken(Display* d, void*)
{
    std::lock_guard lock(g_displaysMutex);
    g_lost.insert(d);
}

// At each opening, as a host may have set its own handlers since.
void InstallErrorHandlers()
{
    static std::mutex installing;
    std::lock_guard lock(installing);
    const XErrorHandler previous = XSetErrorHandler(ReportError);
    if (previous != ReportError) g_previousError = previous;
    const XIOErrorHandler previousIO = XSetIOErrorHandler(ReportIOError);
    if (previousIO != ReportIOError) g_previousIOError = previousIO;
}
} // namespace

Display* ConnectToServer()
{
    // A server whose last client just left resets itself and refuses
    // connections for a moment (Xvfb does): try again briefly.
    for (int attempt = 0;; ++attempt) {
        if (Display* d = XOpenDisplay(nullptr)) return d;
        if (attempt == 10) return nullptr;
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
}

DisplayPtr OpenDisplay()
{
    static std::once_flag once;
    std::call_once(once, [] { XInitThreads(); });
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name) return nullptr;
    InstallErrorHandlers();
    Display* d = ConnectToServer();
    if (!d) return nullptr;
    XSetIOErrorExitHandler(d, ConnectionBroken, nullptr);
    std::lock_guard lock(g_displaysMutex);
    g_ours.insert(d);
    return DisplayPtr(d);
}

void CloseDisplay(Display* display)
{
    if (!display) return;
    XCloseDisplay(display);
    // Only now: the closing may still report errors of this connection, and
    // a later connection may be given the same address.
    std::lock_guard lock(g_displaysMutex);
    g_ours.erase(display);
    g_lost.erase(display);
}

bool DisplayLost(Display* display)
{
    std::lock_guard lock(g_displaysMutex);
    return g_lost.count(display) != 0;
}

void ForgetDisplay(Display* display)
{
    std::lock_guard lock(g_displaysMutex);
    g_ours.erase(display);
    g_lost.erase(display);
}

unsigned long ScalePixel(unsigned long pixel, unsigned long mask)
{
    if (mask == 0) return 0;
    int shift = 0;
    while (!((mask >> shift) & 1)) ++shift;
    unsigned long value = (pixel & mask) >> shift;
    unsigned long max = mask >> shift;
    return max == 0 ? 0 : value * 255 / max;
}

} // namespace ui::x11

namespace ui {
bool X11DisplayReachable()
{
    static const bool reachable = [] { return x11::OpenDisplay() != nullptr; }();
    return reachable;
}
} // namespace ui
