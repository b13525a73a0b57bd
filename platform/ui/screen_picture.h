#pragma once
// The raw material of a report's screenshot: the screen (or the active
// window's part of it) as 0x00RRGGBB pixels, where the window with the
// keyboard focus lies, and the mouse cursor with its position. Nothing is
// drawn into the picture here; the reporter composes it.
#include <cstdint>
#include <vector>

#include "platform/ui/types.h"

namespace ui {

struct TCursorImage {
    TPoint Position; // the pointer on the screen
    TPoint HotSpot;  // inside the image
    int Width = 0;
    int Height = 0;
    std::vector<std::uint32_t> Argb; // premultiplied alpha, row by row
};

struct TScreenPicture {
    TPoint Origin; // the picture's top-left corner on the screen
    int Width = 0;
    int Height = 0;
    std::vector<std::uint32_t> Pixels; // 0x00RRGGBB, Width per row, top row first
    bool HasFocusRect = false;
    TRect FocusRect; // screen coordinates of the focused top-level window
    bool HasCursor = false;
    TCursorImage Cursor;
};

// Takes the whole screen, or with activeWindowOnly the active top-level
// window (_NET_ACTIVE_WINDOW, else the one holding the input focus) clipped
// to the screen; an active window with nothing on the screen gives a 1 x 1
// black picture. False ("no picture") in the headless backend, without a
// display, or for a screen that is not TrueColor. Uses a display connection
// of its own, so any thread may call it. Not signal-safe.
bool CaptureScreenPicture(bool activeWindowOnly, TScreenPicture& out);

} // namespace ui
