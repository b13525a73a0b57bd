#pragma once
// Deflate and inflate through zlib, in the two framings the reporter uses:
// raw deflate data (the body of a gzip member) and zlib streams (the stored
// options and debug data). Not signal-safe: zlib allocates.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "crashreport/codecs/stream.h"

namespace crashreport::codecs {

enum class TDeflateFraming { dfRaw, dfZlib };

// Inflated output beyond this many bytes is refused unless a caller allows more.
inline constexpr size_t kDefaultMaxInflatedSize = size_t(1) << 30;

// Compresses all of data in one call. Raises ECompressionError on failure.
std::vector<uint8_t> Deflate(std::span<const uint8_t> data, TDeflateFraming framing, int level = 9);

// Inflates one deflate (or zlib) stream from the start of input and appends
// the output to sink. Returns the number of input bytes the stream took, so
// the caller finds what follows it. Raises EGzipError when the stream is
// damaged, ends before its last block, or would inflate to more than
// maxOutput bytes. Never reads outside input.
size_t Inflate(std::span<const uint8_t> input, TStream& sink, TDeflateFraming framing,
               size_t maxOutput = kDefaultMaxInflatedSize);

// A zlib stream's content; the stream must fill input exactly.
std::vector<uint8_t> InflateZlib(std::span<const uint8_t> input, size_t maxOutput = kDefaultMaxInflatedSize);

} // namespace crashreport::codecs
