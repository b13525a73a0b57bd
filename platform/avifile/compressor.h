#pragma once
// A video compressor of the registry: takes input frames of one format and
// hands out compressed frames, in order, to a sink.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/avifile/avifile.h"
#include "platform/avifile/frame_format.h"

namespace avifile {

// The room after each frame in the buffers of VideoFileWriter: the
// library-backed compressors' converters read up to this far past a frame.
constexpr size_t kFrameReadPadding = 64;

struct CompressorSettings {
    DWORD quality = ICQUALITY_DEFAULT; // 0..10000 or ICQUALITY_DEFAULT
    DWORD bytesPerSecond = 0;          // 0: no data rate asked for
    DWORD keyFrameEvery = 0;
    DWORD rate = 25; // stream rate / scale: frames per second
    DWORD scale = 1;

    // Bytes one frame may take under the data rate (at least 1); 0 without
    // one. The compressors keep it and the writer counts frames above it.
    size_t FrameShare() const
    {
        if (bytesPerSecond == 0) return 0;
        const uint64_t share = uint64_t(bytesPerSecond) * (scale ? scale : 1) / (rate ? rate : 1);
        return static_cast<size_t>(share ? share : 1);
    }
};

class FrameSink {
public:
    virtual ~FrameSink() = default;
    virtual HRESULT Put(const uint8_t* data, size_t size, bool keyFrame) = 0;
};

class VideoCompressor {
public:
    virtual ~VideoCompressor() = default;
    // Prepares for frames of the given format and returns the stream format
    // of the output ("strf": BITMAPINFOHEADER plus codec data). Fails with
    // AVIERR_BADFORMAT when the compressor cannot take that frame size.
    virtual HRESULT Begin(const InputFrameFormat& input, std::vector<uint8_t>& outputFormat) = 0;
    // Compresses one frame of input.imageSize bytes; the result goes to the
    // sink now or, for compressors that work ahead, with a later call.
    virtual HRESULT Compress(const uint8_t* frame, FrameSink& sink) = 0;
    // Hands out frames still held by the compressor.
    virtual HRESULT Flush(FrameSink&) { return AVIERR_OK; }
};

// A new compressor for the FourCC (matched without regard to case), or
// AVIERR_NOCOMPRESSOR when none of that code is installed.
HRESULT CreateCompressor(FOURCC fourcc, const CompressorSettings& settings, std::unique_ptr<VideoCompressor>& out,
                         CompressorInfo* info = nullptr);

// Quality value to use: the compressor's default for ICQUALITY_DEFAULT,
// others clamped to 0..10000.
DWORD EffectiveQuality(DWORD quality, DWORD compressorDefault);

// A BITMAPINFOHEADER for a compressed stream of the input's size.
gdi::BITMAPINFOHEADER CompressedHeader(const InputFrameFormat& input, FOURCC compression, uint16_t bitCount,
                                       uint32_t extraBytes);

} // namespace avifile
