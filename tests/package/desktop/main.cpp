// A program that draws with Xlib itself and knows nothing of the reporter:
// it links TavrelLog::Desktop and stores its options, nothing more. With a
// display it shows a window of its own; without one it runs all the same.
//
//   desktop_app         shows its window (with a display) and ends
//   desktop_app crash   then writes through a null pointer in DrawCell()
#include <X11/Xlib.h>

#include <cstdio>
#include <cstring>

namespace app {

volatile int* g_cells = nullptr;

__attribute__((noinline, noclone)) int DrawCell(int value)
{
    g_cells[value] = value; // the fault
    return value;
}

} // namespace app

int main(int argc, char** argv)
{
    Display* display = XOpenDisplay(nullptr);
    if (display) {
        const int screen = DefaultScreen(display);
        const Window window = XCreateSimpleWindow(display, RootWindow(display, screen), 40, 40, 320, 200, 1,
                                                  BlackPixel(display, screen), WhitePixel(display, screen));
        XStoreName(display, window, "Plain Xlib window");
        XSelectInput(display, window, StructureNotifyMask);
        XMapWindow(display, window);
        for (XEvent event;;) {
            XNextEvent(display, &event);
            if (event.type == MapNotify) break;
        }
    }
    std::printf("window: %s\n", display ? "shown" : "none");
    std::fflush(stdout);
    if (argc > 1 && std::strcmp(argv[1], "crash") == 0) return app::DrawCell(7);
    if (display) XCloseDisplay(display);
    return 0;
}
