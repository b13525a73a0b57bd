#pragma once
// Taking a bitmap as a 24-bit device-independent image: the 40-byte header
// and the pixels, bottom row first, each row padded to a multiple of 4 bytes.
#include "platform/gdi/dib.h"

namespace avi {

// Fills the header from the bitmap's width and height, whatever the
// bitmap's own format: 24 bits, uncompressed, bottom-up.
void FillDIBHeader(const gdi::Bitmap& bitmap, gdi::BITMAPINFOHEADER& header);

// The header size (always 40) and the image size in bytes.
void QueryDIBSizes(const gdi::Bitmap& bitmap, int& headerSize, int& imageSize);

// Fills the header and copies all rows of the bitmap into pixels in that
// layout. Memory bitmaps need no device context here, so none is taken.
// Returns whether any rows were copied.
bool CaptureDIB(const gdi::Bitmap& bitmap, gdi::BITMAPINFOHEADER& header, void* pixels);

// The reverse: puts pixels in the header's layout (24 bits, rows padded to
// 4 bytes, bottom row first for a positive height) into the bitmap, as far
// as both reach.
void DrawDIB(const void* pixels, const gdi::BITMAPINFOHEADER& header, gdi::Bitmap& bitmap);

} // namespace avi
