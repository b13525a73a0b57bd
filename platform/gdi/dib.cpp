#include "platform/gdi/dib.h"

#include <algorithm>
#include <cstring>

namespace gdi {

BITMAP GetObject(const Bitmap& bitmap)
{
    BITMAP bm{};
    bm.bmWidth = bitmap.Width();
    bm.bmHeight = bitmap.Height();
    bm.bmWidthBytes = static_cast<int32_t>(Bitmap::StrideFor(bitmap.Width()));
    bm.bmPlanes = 1;
    bm.bmBitsPixel = 24;
    return bm;
}

int GetDIBits(const Bitmap& bitmap, unsigned start, unsigned lines, void* bits, const BITMAPINFOHEADER& header,
              unsigned usage)
{
    if (usage != DIB_RGB_COLORS || header.biBitCount != 24 || header.biCompression != BI_RGB || !bits) return 0;
    const int height = bitmap.Height();
    const bool bottomUp = header.biHeight > 0;
    const size_t stride = Bitmap::StrideFor(header.biWidth);
    const size_t copy = std::min(stride, bitmap.Stride());
    auto* out = static_cast<uint8_t*>(bits);
    int copied = 0;
    for (unsigned i = 0; i < lines; ++i) {
        long scan = static_cast<long>(start) + i; // counted in the output's own order
        if (scan >= height) break;
        int row = bottomUp ? height - 1 - static_cast<int>(scan) : static_cast<int>(scan);
        uint8_t* dst = out + static_cast<size_t>(i) * stride;
        if (copy > 0) // an empty bitmap has no rows to copy from
            std::memcpy(dst, bitmap.ScanLine(row), copy);
        if (stride > copy) std::memset(dst + copy, 0, stride - copy);
        ++copied;
    }
    return copied;
}

} // namespace gdi
