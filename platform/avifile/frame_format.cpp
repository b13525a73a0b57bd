#include "platform/avifile/frame_format.h"

#include <cstring>

#include "platform/avifile/riff_layout.h"

namespace avifile {

HRESULT ParseInputFormat(const void* format, LONG formatSize, InputFrameFormat& out)
{
    if (!format || formatSize < static_cast<LONG>(sizeof(gdi::BITMAPINFOHEADER))) return AVIERR_BADFORMAT;
    gdi::BITMAPINFOHEADER h;
    std::memcpy(&h, format, sizeof h);
    if (h.biSize < sizeof h || h.biSize > static_cast<uint32_t>(formatSize)) return AVIERR_BADFORMAT;
    if (h.biPlanes != 1 || h.biBitCount != 24 || h.biCompression != gdi::BI_RGB) return AVIERR_BADFORMAT;
    if (h.biWidth <= 0 || h.biWidth > kMaxFrameDimension) return AVIERR_BADFORMAT;
    if (h.biHeight == 0 || h.biHeight > kMaxFrameDimension || h.biHeight < -kMaxFrameDimension) return AVIERR_BADFORMAT;
    out.header = h;
    out.width = h.biWidth;
    out.height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    out.bottomUp = h.biHeight > 0;
    out.stride = gdi::Bitmap::StrideFor(out.width);
    out.imageSize = out.stride * static_cast<size_t>(out.height);
    if (out.imageSize > riff::kMaxFrameBytes) return AVIERR_BADFORMAT;
    // A stated image size may not be smaller than the rows it must hold.
    if (h.biSizeImage != 0 && h.biSizeImage < out.imageSize) return AVIERR_BADFORMAT;
    out.header.biSize = sizeof h;
    out.header.biSizeImage = static_cast<uint32_t>(out.imageSize);
    return AVIERR_OK;
}

} // namespace avifile
