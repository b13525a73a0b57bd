#pragma once
// The pictures of the report list rows: four 16 x 16 module kinds (library,
// package, program, source line) and the 13 x 13 plus and minus signs of a
// group row. Each picture's top-left pixel is its transparent colour.
#include "platform/gdi/bitmap.h"
#include "platform/gdi/canvas.h"

namespace crashreport::ui {

enum TRowPicture { rpLibrary, rpPackage, rpProgram, rpSourceLine, rpPlus, rpMinus };
inline constexpr int RowPictureCount = 6;

const gdi::Bitmap& RowPicture(TRowPicture picture);

// Draws a bitmap with its top-left pixel's colour left out.
void DrawTransparent(gdi::Canvas& canvas, int x, int y, const gdi::Bitmap& bitmap);

} // namespace crashreport::ui
