#pragma once
// The 3D frames and the focus rectangle every control of the toolkit draws
// with: sunken (edit boxes, lists, progress bars), raised (buttons, pressed
// or not) and the dotted focus outline.
#include "platform/gdi/canvas.h"

namespace ui {

void DrawSunkenFrame(gdi::Canvas& canvas, const gdi::TRect& rect);
void DrawRaisedFrame(gdi::Canvas& canvas, const gdi::TRect& rect, bool pressed);
void DrawFocusRect(gdi::Canvas& canvas, const gdi::TRect& rect);
// The triangle of a scroll bar's arrow button, centred in box, pointing
// along (dx, dy): (0, -1) up, (0, 1) down, (-1, 0) left, (1, 0) right.
void DrawScrollArrow(gdi::Canvas& canvas, const gdi::TRect& box, int dx, int dy);

} // namespace ui
