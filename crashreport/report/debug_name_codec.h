#pragma once
// Encipherment of the names in the debug data. From version 500 on each
// name is enciphered on its own with the stored-data cipher keyed by the
// module's password, so equal names give equal bytes (the debug part still
// compresses well); older versions scramble every byte with a fixed byte.
// A name that cannot be deciphered is shown as "?" and its base64 form.
// Not signal-safe: results are allocated strings.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "crashreport/delivery/codecs/stored_data_cipher.h"

namespace crashreport::stored {

class TDebugNameCodec {
public:
    // readable: whether the password opened the protected part.
    TDebugNameCodec(std::uint16_t version, std::string_view password, bool readable);

    std::string Decode(std::span<const std::uint8_t> stored) const;
    std::string Encode(std::string_view name) const;
    bool Readable() const { return readable_; }

private:
    std::uint16_t version_;
    bool readable_;
    codecs::TStoredDataCipher cipher_;
};

// The check value of the protected part: the magic, enciphered with the
// password; and the test whether a password opens it.
std::uint32_t MakeCheckValue(std::string_view password);
bool CheckValueOpens(std::uint32_t checkValue, std::string_view password);

} // namespace crashreport::stored
