#pragma once
// "MSVC": Microsoft Video 1 in its 16-bit (RGB555) mode, every frame intra.
//
// The image is cut into 4x4 blocks, bottom block row first, each block
// coded with 1 colour, 2 colours (a 16-bit pixel mask) or 8 colours (two per
// 2x2 quadrant). The quality value sets an error threshold: a block whose
// one-colour coding stays under it takes that coding at once; otherwise the
// codings are weighed by squared error plus a quality-dependent weight per
// byte, so lower quality trades detail for size on any picture.
// Frame width and height must be multiples of 4: decoders cover only whole
// blocks, so other sizes are refused at Begin.
#include <array>
#include <cstdint>
#include <vector>

#include "platform/avifile/compressor.h"

namespace avifile {

class MsVideo1Encoder final : public VideoCompressor {
public:
    static constexpr DWORD kDefaultQuality = 7500;

    explicit MsVideo1Encoder(DWORD quality);

    HRESULT Begin(const InputFrameFormat& input, std::vector<uint8_t>& outputFormat) override;
    HRESULT Compress(const uint8_t* frame, FrameSink& sink) override;

    // Squared-error budget of one block (16 pixels, 3 channels) for a quality:
    // a cheaper coding within it is taken at once.
    static uint32_t BlockThreshold(DWORD quality);
    // Squared error one byte of output is worth when codings are weighed.
    static uint32_t ByteWeight(DWORD quality);
    // Worst case of one coded frame: 8-colour blocks throughout, end code.
    size_t MaxFrameBytes() const;
    // Encodes one frame into out (MaxFrameBytes long); returns the length.
    size_t EncodeFrame(const uint8_t* frame, uint8_t* out) const;

private:
    struct Pixel {
        int r, g, b;
    };
    uint8_t* EncodeBlock(const Pixel (&px)[16], uint8_t* out) const;

    uint32_t threshold_;
    uint32_t lambda_;
    InputFrameFormat input_;
    std::vector<uint8_t> output_;
};

} // namespace avifile
