#pragma once
// The cipher of the reporter's stored data: a TEA-like 64-bit block cipher
// whose round terms are added (not exclusive-or combined as in published TEA;
// stored data is only readable this way), keyed by the MD5 digest of a pass
// phrase, chained over a buffer starting from eight 0xFF bytes. Decrypt reads
// what the build-time tool wrote with Encrypt.
// Signal-safe: no allocation, no locks.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace crashreport::codecs {

class TStoredDataCipher {
public:
    // Key words k0..k3: the pass phrase's MD5 digest read as four big-endian words.
    void SetKey(std::string_view passPhrase);
    void SetKeyWords(const uint32_t key[4]);

    // In place, whole buffer: 8-byte blocks chained from eight 0xFF bytes,
    // a tail of 1 to 7 bytes XOR-ed with the enciphered chaining block.
    void Decrypt(void* buffer, size_t length) const;
    // The inverse of Decrypt, for writing stored data.
    void Encrypt(void* buffer, size_t length) const;

    // One 64-bit block: two big-endian words, 32 rounds.
    void EncryptBlock(uint8_t block[8]) const;
    void DecryptBlock(uint8_t block[8]) const;

private:
    uint32_t key_[4] = {0, 0, 0, 0};
};

} // namespace crashreport::codecs
