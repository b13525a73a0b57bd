#include "tests/support/vek_writer.h"

namespace testing_support {

std::string VekFile::Bytes() const
{
    std::string s;
    s.push_back(static_cast<char>(frameCount >> 24));
    s.push_back(static_cast<char>(frameCount >> 16));
    s.push_back(static_cast<char>(frameCount >> 8));
    s.push_back(static_cast<char>(frameCount));
    s.push_back(static_cast<char>(height >> 8));
    s.push_back(static_cast<char>(height));
    s.push_back(static_cast<char>(width >> 8));
    s.push_back(static_cast<char>(width));
    s.append(reinterpret_cast<const char*>(reserved), 6);
    s.append(reinterpret_cast<const char*>(frames.data()), frames.size());
    return s;
}

VekFile RandomVek(uint32_t n, uint16_t w, uint16_t h, uint32_t seed, bool sevenBit)
{
    VekFile v;
    v.frameCount = n;
    v.width = w;
    v.height = h;
    v.frames.resize(static_cast<size_t>(n) * w * h * 3);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : v.frames) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(sevenBit ? (x >> 8) & 127 : x >> 8);
    }
    return v;
}

} // namespace testing_support
