#include "delivery_test_support.h"

#include "crashreport/codecs/base64.h"

namespace delivery_testing {

std::string PatternBytes(std::size_t length, unsigned seed)
{
    std::string bytes(length, '\0');
    unsigned state = seed * 2654435761u + 1;
    for (std::size_t i = 0; i < length; ++i) {
        state = state * 1664525u + 1013904223u;
        bytes[i] = static_cast<char>(state >> 24);
    }
    return bytes;
}

bool ShowsSecret(const std::string& text, const std::string& secret)
{
    return text.find(secret) != std::string::npos ||
        text.find(crashreport::codecs::EncodeBase64(secret)) != std::string::npos;
}

} // namespace delivery_testing
