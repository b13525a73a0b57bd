#pragma once
// Builds .vek frame files byte by byte, independently of the converter's own code.
#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

struct VekFile {
    uint32_t frameCount = 0; // written as is, so "negative" counts can be made
    uint16_t height = 0, width = 0;
    uint8_t reserved[6] = {0, 0, 0, 0, 0, 0};
    std::vector<uint8_t> frames; // frame data as stored: R, G, B, top row first

    std::string Bytes() const;
};

// n frames of w x h where every byte is a deterministic pseudo-random value.
VekFile RandomVek(uint32_t n, uint16_t w, uint16_t h, uint32_t seed, bool sevenBit = false);

} // namespace testing_support
