#pragma once
// Standard base64 (RFC 4648 alphabet, "=" padding, no line breaks).
// Not signal-safe: the results are allocated strings.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace crashreport::codecs {

// Exactly 4 * ceil(length / 3) characters. A null pointer encodes as "".
std::string EncodeBase64(const void* bytes, size_t length);
std::string EncodeBase64(std::string_view text);

// Decodes base64 text. Line breaks, spaces and tabs between the characters
// are skipped (mail bodies carry them); anything else that is not in the
// alphabet, misplaced padding or a missing final group raises EBase64Error.
std::vector<uint8_t> DecodeBase64(std::string_view text);

} // namespace crashreport::codecs
