#pragma once
// Dialog units: templates give positions in quarters of the font's average
// character width and eighths of its height, so a dialog keeps its
// proportions whatever the font. The base units are measured once per font.
#include "platform/gdi/font.h"
#include "platform/ui/types.h"

namespace ui {

struct DialogBaseUnits {
    int cx = 6;  // average character width in pixels
    int cy = 13; // character height in pixels
};

// Measures the average width of the 52 letters and the height of the font.
DialogBaseUnits BaseUnitsOf(const gdi::TFont& font);

// A template rectangle (x, y, width, height in dialog units) in pixels.
TRect DialogRect(const DialogBaseUnits& units, int x, int y, int width, int height);
int DialogX(const DialogBaseUnits& units, int x);
int DialogY(const DialogBaseUnits& units, int y);

} // namespace ui
