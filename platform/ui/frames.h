#pragma once
// The 3D frames and the focus rectangle every control of the toolkit draws
// with: sunken (edit boxes, lists, progress bars), raised (buttons, pressed
// or not) and the dotted focus outline.
#include "platform/gdi/canvas.h"

namespace ui {

void DrawSunkenFrame(gdi::Canvas& canvas, const gdi::TRect& rect);
void DrawRaisedFrame(gdi::Canvas& canvas, const gdi::TRect& rect, bool pressed);
void DrawFocusRect(gdi::Canvas& canvas, const gdi::TRect& rect);

} // namespace ui
