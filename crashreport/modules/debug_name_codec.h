#pragma once
// Encipherment of the names in the debug data. From version 500 on each
// name is combined by exclusive-or with the key stream of the stored-data
// cipher keyed by the module's password: the chaining block of eight 0xFF
// bytes enciphered again and again (the cipher's own treatment of a short
// tail, continued). Each name starts at the stream's beginning, so equal
// names give equal bytes (the debug part still compresses well) and a name
// is deciphered with one exclusive-or per byte. Older versions scramble
// every byte with a fixed byte.
// A name that cannot be deciphered is shown as "?" and its base64 form.
// Not signal-safe: results are allocated strings.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "crashreport/codecs/stored_data_cipher.h"

namespace crashreport::stored {

class TDebugNameCodec {
public:
    // readable: whether the password opened the protected part. Without
    // prepareStream the key stream is made for each name (for codecs that are
    // replaced before use).
    TDebugNameCodec(std::uint16_t version, std::string_view password, bool readable, bool prepareStream = true);

    std::string Decode(std::span<const std::uint8_t> stored) const;
    // The same, in place: `name` holds the stored bytes on entry.
    void DecodeInPlace(std::string& name) const;
    // The same for the stored bytes text[from..] (a name appended to what
    // comes before it).
    void DecodeTail(std::string& text, std::size_t from) const;
    std::string Encode(std::string_view name) const;
    bool Readable() const { return readable_; }

private:
    // The key stream for the first bytes of every name; longer names extend
    // a copy of it.
    void Combine(std::string& bytes) const;
    void Combine(char* bytes, std::size_t size) const;

    std::uint16_t version_;
    bool readable_;
    codecs::TStoredDataCipher cipher_;
    std::vector<std::uint8_t> stream_;
};

// The check value of the protected part: the magic, enciphered with the
// password; and the test whether a password opens it.
std::uint32_t MakeCheckValue(std::string_view password);
bool CheckValueOpens(std::uint32_t checkValue, std::string_view password);

} // namespace crashreport::stored
