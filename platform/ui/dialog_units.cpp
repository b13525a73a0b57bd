#include "platform/ui/dialog_units.h"

#include "platform/gdi/canvas.h"

namespace ui {

DialogBaseUnits BaseUnitsOf(const gdi::TFont& font)
{
    gdi::Canvas measure(1, 1);
    measure.Font = font;
    const TSize letters = measure.TextExtent("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    DialogBaseUnits units;
    units.cx = std::max(1, (letters.cx / 26 + 1) / 2);
    units.cy = std::max(1, letters.cy);
    return units;
}

int DialogX(const DialogBaseUnits& units, int x) { return x * units.cx / 4; }
int DialogY(const DialogBaseUnits& units, int y) { return y * units.cy / 8; }

TRect DialogRect(const DialogBaseUnits& units, int x, int y, int width, int height)
{
    const int left = DialogX(units, x), top = DialogY(units, y);
    return TRect{left, top, left + DialogX(units, width), top + DialogY(units, height)};
}

} // namespace ui
