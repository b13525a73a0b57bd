#include "crashreport/codecs/base64.h"

#include "crashreport/codecs/codec_error.h"
#include "platform/rtl/format.h"

namespace crashreport::codecs {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int DigitValue(char c)
{
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

bool IsSkippedSpace(char c) { return c == '\r' || c == '\n' || c == ' ' || c == '\t'; }

} // namespace

std::string EncodeBase64(const void* bytes, size_t length)
{
    if (bytes == nullptr || length == 0) return {};
    const auto* p = static_cast<const uint8_t*>(bytes);
    std::string out((length + 2) / 3 * 4, '=');
    size_t o = 0;
    size_t i = 0;
    for (; i + 3 <= length; i += 3) {
        uint32_t b0 = p[i], b1 = p[i + 1], b2 = p[i + 2];
        out[o++] = kAlphabet[b0 >> 2];
        out[o++] = kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
        out[o++] = kAlphabet[((b1 & 15) << 2) | (b2 >> 6)];
        out[o++] = kAlphabet[b2 & 63];
    }
    if (length - i == 1) {
        uint32_t b0 = p[i];
        out[o++] = kAlphabet[b0 >> 2];
        out[o++] = kAlphabet[(b0 & 3) << 4];
    } else if (length - i == 2) {
        uint32_t b0 = p[i], b1 = p[i + 1];
        out[o++] = kAlphabet[b0 >> 2];
        out[o++] = kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
        out[o++] = kAlphabet[(b1 & 15) << 2];
    }
    return out;
}

std::string EncodeBase64(std::string_view text) { return EncodeBase64(text.data(), text.size()); }

std::vector<uint8_t> DecodeBase64(std::string_view text)
{
    std::vector<uint8_t> out;
    out.reserve(text.size() / 4 * 3);
    int group[4];
    int filled = 0;     // digits and pads of the current group
    int padding = 0;    // "=" seen in the current group
    bool ended = false; // a padded group closed the data
    for (size_t pos = 0; pos < text.size(); ++pos) {
        char c = text[pos];
        if (IsSkippedSpace(c)) continue;
        if (ended) throw EBase64Error(rtl::Format("Base64 data continues after its padding at offset %zu", pos));
        if (c == '=') {
            // Only the third and fourth character of a group may be padding.
            if (filled < 2) throw EBase64Error(rtl::Format("Misplaced base64 padding at offset %zu", pos));
            ++padding;
            group[filled++] = 0;
        } else {
            int v = DigitValue(c);
            if (v < 0) throw EBase64Error(rtl::Format("Invalid base64 character at offset %zu", pos));
            if (padding > 0) throw EBase64Error(rtl::Format("Misplaced base64 padding at offset %zu", pos));
            group[filled++] = v;
        }
        if (filled == 4) {
            uint32_t bits = (uint32_t(group[0]) << 18) | (uint32_t(group[1]) << 12) | (uint32_t(group[2]) << 6) |
                uint32_t(group[3]);
            out.push_back(uint8_t(bits >> 16));
            if (padding < 2) out.push_back(uint8_t(bits >> 8));
            if (padding < 1) out.push_back(uint8_t(bits));
            ended = padding > 0;
            filled = 0;
            padding = 0;
        }
    }
    if (filled != 0) throw EBase64Error("Base64 data ends in the middle of a group");
    return out;
}

} // namespace crashreport::codecs
