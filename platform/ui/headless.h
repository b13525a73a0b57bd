#pragma once
// The headless backend's own inspection points, and synthetic input that
// works on every backend: it enters the same path as native events.
#include <string>

#include "platform/gdi/bitmap.h"
#include "platform/ui/form.h"

namespace ui {

// Mouse click (press and release) at a point of a window's client area.
void SimulateClick(Window& window, int x, int y);
void SimulateDoubleClick(Window& window, int x, int y);
void SimulateDrag(Window& window, TPoint from, TPoint to);
// A key with modifiers (kmShift, kmCtrl), to whatever has the form's focus.
void SimulateKey(Form& form, unsigned vk, unsigned modifiers = 0);
// Typed text, one character at a time.
void SimulateText(Form& form, const std::string& utf8);

namespace headless {
// How often the bell rang in the headless backend.
int BeepCount();
// The headless screen: the showing forms composed at their positions on a
// grey desktop of ScreenSize.
gdi::Bitmap CaptureScreen();
// The screen rectangle of the form last shown or activated; empty when none shows.
TRect ActiveWindowRect();
} // namespace headless

} // namespace ui
