#include "platform/avifile/dib_compressor.h"

#include <cstring>

namespace avifile {

HRESULT DibCompressor::Begin(const InputFrameFormat& input, std::vector<uint8_t>& outputFormat)
{
    imageSize_ = input.imageSize;
    outputFormat.resize(sizeof input.header);
    std::memcpy(outputFormat.data(), &input.header, sizeof input.header);
    return AVIERR_OK;
}

HRESULT DibCompressor::Compress(const uint8_t* frame, FrameSink& sink) { return sink.Put(frame, imageSize_, true); }

} // namespace avifile
