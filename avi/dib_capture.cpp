#include "avi/dib_capture.h"

#include <algorithm>
#include <cstring>

namespace avi {

void FillDIBHeader(const gdi::Bitmap& bitmap, gdi::BITMAPINFOHEADER& header)
{
    const gdi::BITMAP bm = gdi::GetObject(bitmap);
    std::memset(&header, 0, sizeof header);
    header.biSize = sizeof(gdi::BITMAPINFOHEADER);
    header.biWidth = bm.bmWidth;
    header.biHeight = bm.bmHeight;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = gdi::BI_RGB;
    const uint32_t stride = ((static_cast<uint32_t>(bm.bmWidth) * 24 + 31) / 32) * 4;
    header.biSizeImage = stride * static_cast<uint32_t>(bm.bmHeight);
}

void QueryDIBSizes(const gdi::Bitmap& bitmap, int& headerSize, int& imageSize)
{
    gdi::BITMAPINFOHEADER header;
    FillDIBHeader(bitmap, header);
    headerSize = sizeof(gdi::BITMAPINFOHEADER);
    imageSize = static_cast<int>(header.biSizeImage);
}

bool CaptureDIB(const gdi::Bitmap& bitmap, gdi::BITMAPINFOHEADER& header, void* pixels)
{
    FillDIBHeader(bitmap, header);
    const int rows =
        gdi::GetDIBits(bitmap, 0, static_cast<unsigned>(header.biHeight), pixels, header, gdi::DIB_RGB_COLORS);
    return rows > 0;
}

void DrawDIB(const void* pixels, const gdi::BITMAPINFOHEADER& header, gdi::Bitmap& bitmap)
{
    const int height = header.biHeight < 0 ? -header.biHeight : header.biHeight;
    const size_t stride = gdi::Bitmap::StrideFor(header.biWidth);
    const size_t copy = std::min(stride, bitmap.Stride());
    const auto* in = static_cast<const uint8_t*>(pixels);
    for (int row = 0; row < height && row < bitmap.Height(); ++row) {
        const int stored = header.biHeight > 0 ? height - 1 - row : row;
        if (copy > 0) std::memcpy(bitmap.ScanLine(row), in + static_cast<size_t>(stored) * stride, copy);
    }
}

} // namespace avi
