#include "crashreport/codecs/crc32.h"

#include <array>

namespace crashreport::codecs {
namespace {

// The reflected polynomial, assembled from the exponents of
// x^32 + x^26 + x^23 + x^22 + x^16 + x^12 + x^11 + x^10 + x^8 + x^7 + x^5 + x^4 + x^2 + x + 1.
constexpr uint32_t ReflectedPolynomial()
{
    constexpr int exponents[] = {0, 1, 2, 4, 5, 7, 8, 10, 11, 12, 16, 22, 23, 26};
    uint32_t poly = 0;
    for (int e : exponents) poly |= 1u << (31 - e);
    return poly;
}
static_assert(ReflectedPolynomial() == 0xEDB88320u);

constexpr std::array<uint32_t, 256> BuildTable()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? ReflectedPolynomial() ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

constexpr std::array<uint32_t, 256> kTable = BuildTable();

} // namespace

uint32_t UpdateCrc32(uint32_t crc, const void* data, size_t length)
{
    if (data == nullptr || length == 0) return crc;
    const auto* p = static_cast<const uint8_t*>(data);
    uint32_t c = crc ^ 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i) c = kTable[(c ^ p[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

uint32_t ComputeCrc32(const void* data, size_t length) { return UpdateCrc32(0, data, length); }

} // namespace crashreport::codecs
