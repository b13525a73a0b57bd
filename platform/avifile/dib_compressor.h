#pragma once
// "DIB ": full frames, stored exactly as given (no copy is made).
#include "platform/avifile/compressor.h"

namespace avifile {

class DibCompressor final : public VideoCompressor {
public:
    HRESULT Begin(const InputFrameFormat& input, std::vector<uint8_t>& outputFormat) override;
    HRESULT Compress(const uint8_t* frame, FrameSink& sink) override;

private:
    size_t imageSize_ = 0;
};

} // namespace avifile
