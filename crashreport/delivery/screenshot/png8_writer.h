#pragma once
// The 8-bit indexed PNG of a screenshot: signature, IHDR (colour type 3),
// a PLTE of all 256 table entries, the rows (filter byte 0, then one index
// per pixel) deflated at level 9 as one zlib stream cut into IDAT chunks of
// at most 262,143 bytes, and IEND. Not signal-safe (it allocates).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "crashreport/delivery/screenshot/octree.h"

namespace crashreport::screenshot {

inline constexpr std::size_t kIdatBufferSize = 0x3FFFF;

// indices: height rows of width bytes, top row first. Returns the whole
// file; empty when width or height is 0 or the compressor fails.
std::vector<std::uint8_t> EncodePng8(int width, int height, const std::uint8_t* indices, const TPalette& palette);

} // namespace crashreport::screenshot
