#pragma once
// The frame file is big-endian; these turn its header fields into native values.
#include <cstdint>

namespace converter {

constexpr uint32_t ReverseBytes32(uint32_t value)
{
    return (value >> 24) | ((value >> 8) & 0x0000FF00u) | ((value << 8) & 0x00FF0000u) | (value << 24);
}

constexpr uint16_t ReverseBytes16(uint16_t value) { return static_cast<uint16_t>((value >> 8) | (value << 8)); }

} // namespace converter
