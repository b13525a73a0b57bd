#pragma once
// The input frames every compressor takes: 24-bit uncompressed
// device-independent images, rows padded to 4 bytes, bottom row first
// (positive height) or top row first (negative height).
#include <cstddef>

#include "platform/avifile/avifile.h"
#include "platform/gdi/dib.h"

namespace avifile {

struct InputFrameFormat {
    gdi::BITMAPINFOHEADER header{};
    int width = 0;
    int height = 0; // always positive
    bool bottomUp = true;
    size_t stride = 0;
    size_t imageSize = 0;
    // Bytes after the image that may be read (not used): frames in buffers
    // with this much room need no padded copy for readers that look ahead.
    size_t readableAfter = 0;

    // Start of the top row and the step from one row to the one below it.
    const uint8_t* TopRow(const uint8_t* frame) const
    {
        return bottomUp ? frame + (static_cast<size_t>(height) - 1) * stride : frame;
    }
    ptrdiff_t DownStep() const { return bottomUp ? -static_cast<ptrdiff_t>(stride) : static_cast<ptrdiff_t>(stride); }
};

// Frame sizes: 1..32767 in each direction (the stream header stores the
// frame rectangle in 16 bits), and one frame must fit into a RIFF list.
constexpr int kMaxFrameDimension = 32767;

// Checks a format given to AVIStreamSetFormat; AVIERR_BADFORMAT when it is
// not a 24-bit uncompressed image header of a usable size.
HRESULT ParseInputFormat(const void* format, LONG formatSize, InputFrameFormat& out);

} // namespace avifile
