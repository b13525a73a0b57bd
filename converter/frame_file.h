#pragma once
// The ".vek" frame file: a 14-byte big-endian header (frame count, height,
// width, 6 reserved bytes) followed by the frames, each H rows of W pixels of
// red, green, blue bytes, top row first, with nothing between them.
#include <cstddef>
#include <cstdint>
#include <string>

namespace converter {

constexpr size_t kFrameFileHeaderSize = 14;

struct FrameFileHeader {
    int32_t frameCount = 0; // signed: counts of 2^31 or more read as negative
    uint16_t height = 0;
    uint16_t width = 0;
};

// Decodes the first 14 bytes of a frame file.
FrameFileHeader DecodeFrameFileHeader(const uint8_t* bytes);
// Encodes a header; the reserved bytes are written as zeros.
void EncodeFrameFileHeader(const FrameFileHeader& header, uint8_t* bytes);

// H × W × 3; 64-bit so that sizes past the signed 32-bit range can be refused.
inline uint64_t FrameBytes(const FrameFileHeader& h) { return uint64_t{h.height} * h.width * 3; }

// Largest width and height of a frame in an AVI file.
constexpr unsigned kMaxFrameSide = 32767;

// Largest frame the run accepts: its byte count must fit in a signed 32-bit value.
constexpr uint64_t kMaxFrameBytes = 0x7FFFFFFFu;

// Checks a header against the size of the file it came from. Returns an
// empty string when the file can be converted, else the reason it cannot,
// in words for the user.
std::string CheckFrameFile(const FrameFileHeader& header, uint64_t fileSize);

// Turns one frame as stored (red, green, blue; 7-bit channels) into the
// bitmap's byte order (blue, green, red) with every channel doubled modulo 256.
// Works in place on pixelCount × 3 bytes.
void TransformFrame(uint8_t* pixels, size_t pixelCount);

// The gauge value while frame k of n is written: k × 100 / n rounded to the
// nearest integer, ties to the even neighbour.
int ProgressValue(int32_t k, int32_t n);

} // namespace converter
