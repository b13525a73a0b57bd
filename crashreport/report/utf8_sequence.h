#pragma once
// One UTF-8 sequence of a report text, for the renderings that write
// characters beyond ASCII as references of their own (XML, RTF).
#include <cstddef>
#include <string>

namespace crashreport {

// The length of the well-formed UTF-8 sequence at `at` (2 to 4), with its
// code point in `code`; 0 for a byte that starts none (a lone byte of
// another code page, an overlong form, a surrogate, beyond U+10FFFF).
// Signal-safe.
inline std::size_t Utf8Sequence(const std::string& text, std::size_t at, unsigned& code)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    const std::size_t length = lead >= 0xC2 && lead <= 0xDF ? 2
        : lead >= 0xE0 && lead <= 0xEF                      ? 3
        : lead >= 0xF0 && lead <= 0xF4                      ? 4
                                                            : 0;
    if (!length || at + length > text.size()) return 0;
    code = lead & (length == 2 ? 0x1F : length == 3 ? 0x0F : 0x07);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
    if (overlong || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

} // namespace crashreport
