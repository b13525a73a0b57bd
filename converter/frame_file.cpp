#include "converter/frame_file.h"

#include <cmath>
#include <cstring>

#include <immintrin.h>

#include "converter/byte_order.h"
#include "platform/rtl/format.h"

namespace converter {
namespace {

// Sixteen pixels (48 bytes, three 16-byte lanes) at a time: each pixel's
// first and third bytes exchanged, then every byte doubled. Two pixels
// straddle the lanes, so each lane takes bytes from its neighbours.
__attribute__((target("ssse3"))) size_t TransformSixteenPixelsAtATime(uint8_t* pixels, size_t pixelCount)
{
    const char z = static_cast<char>(0x80); // a zero byte
    const __m128i aFromA = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, z);
    const __m128i aFromB = _mm_setr_epi8(z, z, z, z, z, z, z, z, z, z, z, z, z, z, z, 1);
    const __m128i bFromA = _mm_setr_epi8(z, 15, z, z, z, z, z, z, z, z, z, z, z, z, z, z);
    const __m128i bFromB = _mm_setr_epi8(0, z, 4, 3, 2, 7, 6, 5, 10, 9, 8, 13, 12, 11, z, 15);
    const __m128i bFromC = _mm_setr_epi8(z, z, z, z, z, z, z, z, z, z, z, z, z, z, 0, z);
    const __m128i cFromB = _mm_setr_epi8(14, z, z, z, z, z, z, z, z, z, z, z, z, z, z, z);
    const __m128i cFromC = _mm_setr_epi8(z, 3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10, 15, 14, 13);
    size_t done = 0;
    for (; done + 16 <= pixelCount; done += 16, pixels += 48) {
        auto* lanes = reinterpret_cast<__m128i*>(pixels);
        const __m128i a = _mm_loadu_si128(lanes), b = _mm_loadu_si128(lanes + 1), c = _mm_loadu_si128(lanes + 2);
        __m128i outA = _mm_or_si128(_mm_shuffle_epi8(a, aFromA), _mm_shuffle_epi8(b, aFromB));
        __m128i outB = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, bFromA), _mm_shuffle_epi8(b, bFromB)),
                                    _mm_shuffle_epi8(c, bFromC));
        __m128i outC = _mm_or_si128(_mm_shuffle_epi8(b, cFromB), _mm_shuffle_epi8(c, cFromC));
        _mm_storeu_si128(lanes, _mm_add_epi8(outA, outA));
        _mm_storeu_si128(lanes + 1, _mm_add_epi8(outB, outB));
        _mm_storeu_si128(lanes + 2, _mm_add_epi8(outC, outC));
    }
    return done;
}

} // namespace

FrameFileHeader DecodeFrameFileHeader(const uint8_t* bytes)
{
    uint32_t count;
    uint16_t height, width;
    std::memcpy(&count, bytes, 4);
    std::memcpy(&height, bytes + 4, 2);
    std::memcpy(&width, bytes + 6, 2);
    FrameFileHeader h;
    h.frameCount = static_cast<int32_t>(ReverseBytes32(count));
    h.height = ReverseBytes16(height);
    h.width = ReverseBytes16(width);
    return h;
}

void EncodeFrameFileHeader(const FrameFileHeader& header, uint8_t* bytes)
{
    const uint32_t count = ReverseBytes32(static_cast<uint32_t>(header.frameCount));
    const uint16_t height = ReverseBytes16(header.height), width = ReverseBytes16(header.width);
    std::memcpy(bytes, &count, 4);
    std::memcpy(bytes + 4, &height, 2);
    std::memcpy(bytes + 6, &width, 2);
    std::memset(bytes + 8, 0, 6);
}

std::string CheckFrameFile(const FrameFileHeader& header, uint64_t fileSize)
{
    if (fileSize < kFrameFileHeaderSize)
        return rtl::Format("the file is %llu bytes long, shorter than the %zu-byte header",
                           static_cast<unsigned long long>(fileSize), kFrameFileHeaderSize);
    if (header.frameCount < 0)
        return rtl::Format("its frame count %d is negative (stored as %u, 2^31 or more)", header.frameCount,
                           static_cast<unsigned>(header.frameCount));
    // Frames without bytes would give a video of no size, written for as
    // many frames as the count says, from a file that holds nothing.
    if (header.width == 0 || header.height == 0)
        return rtl::Format("its frames of %u x %u pixels hold no bytes", header.width, header.height);
    if (header.width > kMaxFrameSide || header.height > kMaxFrameSide)
        return rtl::Format("its frames of %u x %u pixels are larger than the %u x %u pixels an AVI file can hold",
                           header.width, header.height, kMaxFrameSide, kMaxFrameSide);
    const uint64_t frame = FrameBytes(header);
    if (frame > kMaxFrameBytes)
        return rtl::Format("its frames of %u x %u pixels (%llu bytes each) are too large", header.width, header.height,
                           static_cast<unsigned long long>(frame));
    const uint64_t promised = kFrameFileHeaderSize + frame * static_cast<uint64_t>(header.frameCount);
    if (fileSize < promised)
        return rtl::Format("it is truncated: %d frames of %llu bytes need %llu bytes, the file has %llu",
                           header.frameCount, static_cast<unsigned long long>(frame),
                           static_cast<unsigned long long>(promised), static_cast<unsigned long long>(fileSize));
    return {};
}

void TransformFrame(uint8_t* pixels, size_t pixelCount)
{
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    size_t i = 0;
    if (ssse3) {
        i = TransformSixteenPixelsAtATime(pixels, pixelCount);
        pixels += i * 3;
    }
    for (; i < pixelCount; ++i, pixels += 3) {
        const uint8_t red = pixels[0];
        pixels[0] = static_cast<uint8_t>(pixels[2] << 1);
        pixels[1] = static_cast<uint8_t>(pixels[1] << 1);
        pixels[2] = static_cast<uint8_t>(red << 1);
    }
}

int ProgressValue(int32_t k, int32_t n)
{
    // The product is taken in 64 bits: it would wrap in 32 bits past 21,474,836 frames.
    const double value = static_cast<double>(int64_t{k} * 100) / static_cast<double>(n);
    return static_cast<int>(std::nearbyint(value)); // default rounding: ties to even
}

} // namespace converter
