#pragma once
// Which compressors take frames of a given size, and why one does not, in
// words for the user: the AVI library only answers AVIERR_BADFORMAT.
#include <string>
#include <vector>

#include "platform/avifile/avifile.h"

namespace avi {

// The largest width and height an AVI stream header can hold.
constexpr int kMaxFrameSide = 32767;

// Whether the compressor takes frames of width x height.
bool TakesFrameSize(const avifile::CompressorInfo& compressor, int width, int height);

// The installed compressors that take frames of width x height, in the
// library's order.
std::vector<avifile::CompressorInfo> CompressorsForSize(int width, int height);

// A FourCC as the user types it: without trailing blanks ("DIB").
std::string ShownFourCC(avifile::FOURCC code);

// Why the compressor cannot take frames of width x height, followed by the
// compressors that can, e.g. "Microsoft Video 1 needs a width and height
// that are multiples of 4; the frames are 321 x 241. Compressors that can
// take them: DIB, divx". Empty when the size is not the reason.
std::string FrameSizeAdvice(avifile::FOURCC fourcc, int width, int height);

} // namespace avi
