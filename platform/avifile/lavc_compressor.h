#pragma once
// Compressors backed by libavcodec: the input frames are converted once per
// frame by libswscale into the encoder's pixel format (the conversion is set
// up once per stream) and encoded as intra frames.
#include <memory>

#include "platform/avifile/compressor.h"

namespace avifile {

enum class LavcCodec { Mpeg4, Mjpeg, Huffyuv, Ffv1 };

struct LavcCodecSetup {
    LavcCodec codec;
    FOURCC compression; // biCompression of the stream format
    DWORD defaultQuality;
};

// True when this machine's libavcodec has the encoder with a pixel format
// we can feed.
bool LavcAvailable(LavcCodec codec);

std::unique_ptr<VideoCompressor> MakeLavcCompressor(const LavcCodecSetup& setup, const CompressorSettings& settings);

// Fixed quantiser (2 best .. 31 worst) for a quality of 0..10000.
int QualityToQuantiser(DWORD quality);

} // namespace avifile
