#pragma once
// Device-independent bitmap retrieval: the 40-byte bitmap-information header
// and GetObject/GetDIBits for memory bitmaps.
#include <cstdint>

#include "platform/gdi/bitmap.h"

namespace gdi {

#pragma pack(push, 1)
struct BITMAPINFOHEADER {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight; // positive: bottom row first
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPINFOHEADER) == 40);

constexpr uint32_t BI_RGB = 0;
constexpr unsigned DIB_RGB_COLORS = 0;

struct BITMAP {
    int32_t bmType;
    int32_t bmWidth;
    int32_t bmHeight;
    int32_t bmWidthBytes;
    uint16_t bmPlanes;
    uint16_t bmBitsPixel;
};

// Width, height and layout of a bitmap.
BITMAP GetObject(const Bitmap& bitmap);

// Copies `lines` rows starting at scan line `start` (counted from the bottom,
// as in a bottom-up image) into bits, in the layout the header asks for: 24
// bits per pixel, uncompressed, rows padded to 4 bytes; bottom row first when
// biHeight is positive, top row first when it is negative. Returns the number
// of rows copied, 0 when the header asks for a layout that is not supported.
int GetDIBits(const Bitmap& bitmap, unsigned start, unsigned lines, void* bits, const BITMAPINFOHEADER& header,
              unsigned usage = DIB_RGB_COLORS);

} // namespace gdi
