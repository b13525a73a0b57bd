#pragma once
// MD5 message digest (RFC 1321). Signal-safe: no allocation, no locks.
#include <array>
#include <cstddef>
#include <cstdint>

namespace crashreport::codecs {

using TMD5Digest = std::array<uint8_t, 16>;

// Incremental MD5 for data that arrives in pieces.
class TMD5 {
public:
    TMD5();
    void Update(const void* data, size_t length);
    // The digest of everything given so far; the object is spent afterwards.
    TMD5Digest Final();

private:
    void Transform(const uint8_t block[64]);

    uint32_t state_[4];
    uint64_t bitCount_ = 0;
    uint8_t buffer_[64];
    size_t buffered_ = 0;
};

// The 16-byte digest of the bytes; a null pointer digests as empty input.
TMD5Digest ComputeMD5(const void* bytes, size_t length);

} // namespace crashreport::codecs
