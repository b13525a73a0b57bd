#include "crashreport/modules/debug_name_codec.h"

#include <cstring>
#include <vector>

#include "crashreport/codecs/base64.h"
#include "crashreport/modules/stored_data_format.h"

namespace crashreport::stored {

namespace {

constexpr std::size_t kKeyStreamBytes = 2048;

void ExtendKeyStream(const codecs::TStoredDataCipher& cipher, std::vector<std::uint8_t>& stream, std::size_t size)
{
    std::uint8_t block[8];
    if (stream.empty())
        std::memset(block, 0xFF, sizeof block);
    else
        std::memcpy(block, stream.data() + stream.size() - 8, 8);
    while (stream.size() < size) {
        cipher.EncryptBlock(block);
        stream.insert(stream.end(), block, block + 8);
    }
}

} // namespace

TDebugNameCodec::TDebugNameCodec(std::uint16_t version, std::string_view password, bool readable, bool prepareStream)
    : version_(version), readable_(readable)
{
    if (version_ >= kFirstSectionedVersion) {
        cipher_.SetKey(password);
        if (prepareStream) ExtendKeyStream(cipher_, stream_, kKeyStreamBytes);
    }
}

void TDebugNameCodec::Combine(std::string& bytes) const { Combine(bytes.data(), bytes.size()); }

void TDebugNameCodec::Combine(char* p, std::size_t n) const
{
    const std::uint8_t* key = stream_.data();
    std::vector<std::uint8_t> longer;
    if (n > stream_.size()) {
        longer = stream_;
        ExtendKeyStream(cipher_, longer, n);
        key = longer.data();
    }
    // Eight bytes at a time: names are looked up in every report.
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t a, b;
        std::memcpy(&a, p + i, 8);
        std::memcpy(&b, key + i, 8);
        a ^= b;
        std::memcpy(p + i, &a, 8);
    }
    for (; i < n; ++i) p[i] = static_cast<char>(static_cast<std::uint8_t>(p[i]) ^ key[i]);
}

std::string TDebugNameCodec::Decode(std::span<const std::uint8_t> stored) const
{
    std::string name(reinterpret_cast<const char*>(stored.data()), stored.size());
    DecodeInPlace(name);
    return name;
}

void TDebugNameCodec::DecodeInPlace(std::string& name) const
{
    if (version_ < kFirstSectionedVersion) {
        for (char& c : name) c = static_cast<char>(static_cast<std::uint8_t>(c) ^ kNameScrambleByte);
        return;
    }
    if (!readable_) {
        name = "?" + codecs::EncodeBase64(name.data(), name.size());
        return;
    }
    Combine(name);
}

void TDebugNameCodec::DecodeTail(std::string& text, std::size_t from) const
{
    char* p = text.data() + from;
    const std::size_t n = text.size() - from;
    if (version_ < kFirstSectionedVersion) {
        for (std::size_t i = 0; i < n; ++i)
            p[i] = static_cast<char>(static_cast<std::uint8_t>(p[i]) ^ kNameScrambleByte);
        return;
    }
    if (!readable_) {
        std::string shown = "?" + codecs::EncodeBase64(p, n);
        text.replace(from, n, shown);
        return;
    }
    Combine(p, n);
}

std::string TDebugNameCodec::Encode(std::string_view name) const
{
    std::string stored(name);
    if (version_ < kFirstSectionedVersion) {
        for (char& c : stored) c = static_cast<char>(static_cast<std::uint8_t>(c) ^ kNameScrambleByte);
        return stored;
    }
    Combine(stored);
    return stored;
}

std::uint32_t MakeCheckValue(std::string_view password)
{
    codecs::TStoredDataCipher cipher;
    cipher.SetKey(password);
    std::uint8_t bytes[4] = {kMagic & 0xFF, (kMagic >> 8) & 0xFF, (kMagic >> 16) & 0xFF, kMagic >> 24};
    cipher.Encrypt(bytes, sizeof bytes);
    return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (std::uint32_t(bytes[3]) << 24);
}

bool CheckValueOpens(std::uint32_t checkValue, std::string_view password)
{
    codecs::TStoredDataCipher cipher;
    cipher.SetKey(password);
    std::uint8_t bytes[4] = {std::uint8_t(checkValue), std::uint8_t(checkValue >> 8), std::uint8_t(checkValue >> 16),
                             std::uint8_t(checkValue >> 24)};
    cipher.Decrypt(bytes, sizeof bytes);
    const std::uint32_t plain = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (std::uint32_t(bytes[3]) << 24);
    return plain == kMagic;
}

} // namespace crashreport::stored
