#pragma once
// Screen capture into a 24-bit bitmap: the whole screen or the active
// window (the window manager's _NET_ACTIVE_WINDOW, else the window with the
// input focus), optionally with the mouse cursor drawn in. Safe from any
// thread: it uses a display connection of its own.
#include "platform/gdi/bitmap.h"

namespace ui {

enum class CaptureArea { caScreen, caActiveWindow };

// False (and out untouched) when nothing could be captured.
bool CaptureScreen(CaptureArea area, bool withCursor, gdi::Bitmap& out);

} // namespace ui
