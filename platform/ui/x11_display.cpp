#include "platform/ui/x11_display.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <mutex>
#include <set>

#include "platform/ui/backend.h"

namespace ui::x11 {
namespace {
int ReportError(Display* d, XErrorEvent* e)
{
    char text[256] = {};
    XGetErrorText(d, e->error_code, text, sizeof text);
    std::fprintf(stderr, "ui: X error %s (request %d.%d)\n", text, e->request_code, e->minor_code);
    return 0;
}

std::mutex g_lostMutex;
std::set<Display*> g_lost;

int ReportIOError(Display*)
{
    std::fprintf(stderr, "ui: the display connection was lost\n");
    return 0;
}

// Called instead of exit() when a connection breaks: the display is marked
// lost and Xlib returns to its caller, which then leaves it alone.
void ConnectionBroken(Display* d, void*)
{
    std::lock_guard lock(g_lostMutex);
    g_lost.insert(d);
}

void InitOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        XInitThreads();
        XSetErrorHandler(ReportError);
        XSetIOErrorHandler(ReportIOError);
    });
}
} // namespace

DisplayPtr OpenDisplay()
{
    InitOnce();
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name) return nullptr;
    // A server whose last client just left resets itself and refuses
    // connections for a moment (Xvfb does): try again briefly.
    for (int attempt = 0;; ++attempt) {
        if (Display* d = XOpenDisplay(nullptr)) {
            XSetIOErrorExitHandler(d, ConnectionBroken, nullptr);
            return DisplayPtr(d);
        }
        if (attempt == 10) return nullptr;
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
}

bool DisplayLost(Display* display)
{
    std::lock_guard lock(g_lostMutex);
    return g_lost.count(display) != 0;
}

void ForgetDisplay(Display* display)
{
    std::lock_guard lock(g_lostMutex);
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
