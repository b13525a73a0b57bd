#pragma once
// Reads gzip data (RFC 1952): the header with its optional extra field, file
// name, comment and header CRC, the deflate data, and the trailer, whose
// CRC-32 and size are checked. Members written one after another are read in
// order, as gzip does. Not signal-safe.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "crashreport/codecs/stream.h"
#include "crashreport/codecs/deflate_codec.h"

namespace crashreport::codecs {

// Decompresses the gzip data in input and appends it to output. Raises
// EGzipError for bad magic, an unknown method or flag, a truncated member,
// damaged deflate data, a wrong CRC-32 or size, bytes after the last member
// that are not another member, or more than maxOutput bytes of output.
// Reads nothing outside input. Returns the number of bytes appended.
size_t ReadGzip(std::span<const uint8_t> input, TStream& output, size_t maxOutput = kDefaultMaxInflatedSize);

// The same for a gzip stream read to its end (at most maxInput bytes).
size_t ReadGzipStream(TStream& gzip, TStream& output, size_t maxOutput = kDefaultMaxInflatedSize,
                      size_t maxInput = kDefaultMaxInflatedSize);

// Convenience forms that return the decompressed bytes.
std::vector<uint8_t> GunzipBytes(std::span<const uint8_t> input, size_t maxOutput = kDefaultMaxInflatedSize);
std::string GunzipText(std::string_view input, size_t maxOutput = kDefaultMaxInflatedSize);

// True when data starts with the gzip magic bytes 0x1F 0x8B.
bool HasGzipMagic(std::span<const uint8_t> data);

} // namespace crashreport::codecs
