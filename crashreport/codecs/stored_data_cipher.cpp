#include "crashreport/codecs/stored_data_cipher.h"

#include <cstring>

#include "crashreport/codecs/md5.h"

namespace crashreport::codecs {
namespace {

constexpr uint32_t kDelta = 0x9E3779B9u;
constexpr int kRounds = 32;

uint32_t LoadBigEndian(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

void StoreBigEndian(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

void XorBytes(uint8_t* target, const uint8_t* with, size_t count)
{
    for (size_t i = 0; i < count; ++i) target[i] ^= with[i];
}

} // namespace

void TStoredDataCipher::SetKey(std::string_view passPhrase)
{
    TMD5Digest digest = ComputeMD5(passPhrase.data(), passPhrase.size());
    uint32_t words[4];
    for (int i = 0; i < 4; ++i) words[i] = LoadBigEndian(digest.data() + 4 * i);
    SetKeyWords(words);
}

void TStoredDataCipher::SetKeyWords(const uint32_t key[4]) { std::memcpy(key_, key, sizeof key_); }

void TStoredDataCipher::EncryptBlock(uint8_t block[8]) const
{
    uint32_t a = LoadBigEndian(block), b = LoadBigEndian(block + 4);
    const uint32_t k0 = key_[0], k1 = key_[1], k2 = key_[2], k3 = key_[3];
    uint32_t sum = 0;
    for (int round = 0; round < kRounds; ++round) {
        sum += kDelta;
        a += (b << 4) + (k0 ^ b) + (sum ^ (b >> 5)) + k1;
        b += (a << 4) + (k2 ^ a) + (sum ^ (a >> 5)) + k3;
    }
    StoreBigEndian(block, a);
    StoreBigEndian(block + 4, b);
}

void TStoredDataCipher::DecryptBlock(uint8_t block[8]) const
{
    uint32_t a = LoadBigEndian(block), b = LoadBigEndian(block + 4);
    const uint32_t k0 = key_[0], k1 = key_[1], k2 = key_[2], k3 = key_[3];
    uint32_t sum = kDelta * uint32_t(kRounds); // 0xC6EF3720
    for (int round = 0; round < kRounds; ++round) {
        b -= (a << 4) + (k2 ^ a) + (sum ^ (a >> 5)) + k3;
        a -= (b << 4) + (k0 ^ b) + (sum ^ (b >> 5)) + k1;
        sum -= kDelta;
    }
    StoreBigEndian(block, a);
    StoreBigEndian(block + 4, b);
}

void TStoredDataCipher::Decrypt(void* buffer, size_t length) const
{
    if (buffer == nullptr) return;
    auto* p = static_cast<uint8_t*>(buffer);
    uint8_t chain[8];
    std::memset(chain, 0xFF, sizeof chain);
    size_t pos = 0;
    for (; pos + 8 <= length; pos += 8) {
        uint8_t kept[8];
        std::memcpy(kept, p + pos, 8);
        DecryptBlock(p + pos);
        XorBytes(p + pos, chain, 8);
        std::memcpy(chain, kept, 8);
    }
    if (pos < length) {
        EncryptBlock(chain);
        XorBytes(p + pos, chain, length - pos);
    }
}

void TStoredDataCipher::Encrypt(void* buffer, size_t length) const
{
    if (buffer == nullptr) return;
    auto* p = static_cast<uint8_t*>(buffer);
    uint8_t chain[8];
    std::memset(chain, 0xFF, sizeof chain);
    size_t pos = 0;
    for (; pos + 8 <= length; pos += 8) {
        XorBytes(p + pos, chain, 8);
        EncryptBlock(p + pos);
        std::memcpy(chain, p + pos, 8);
    }
    if (pos < length) {
        EncryptBlock(chain);
        XorBytes(p + pos, chain, length - pos);
    }
}

} // namespace crashreport::codecs
