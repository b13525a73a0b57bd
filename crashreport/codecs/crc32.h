#pragma once
// CRC-32 of gzip and zip (reflected polynomial 0xEDB88320, initial value
// 0xFFFFFFFF, final complement). Signal-safe: no allocation, no locks; the
// table is built at compile time.
#include <cstddef>
#include <cstdint>

namespace crashreport::codecs {

// CRC-32 of the bytes; a null pointer or a length of 0 yields 0.
uint32_t ComputeCrc32(const void* data, size_t length);

// Continues a CRC-32: UpdateCrc32(UpdateCrc32(0, a), b) == CRC of a then b.
uint32_t UpdateCrc32(uint32_t crc, const void* data, size_t length);

} // namespace crashreport::codecs
