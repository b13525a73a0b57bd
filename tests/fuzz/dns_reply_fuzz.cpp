// Feeds arbitrary bytes to the DNS reply parser of the MX lookup, as the
// reply to a query with the identifier of the first two bytes (and to one
// with another identifier). It must never read outside the reply, and a
// found exchanger must be a name a query could be built for.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "platform/net/dns_mx.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::span<const uint8_t> reply(data, size);
    const uint16_t id = size >= 2 ? static_cast<uint16_t>(data[0] << 8 | data[1]) : 0;
    const net::TMXReply parsed = net::ParseMXReply(reply, id);
    if (parsed.Status == net::TMXReplyStatus::Found) {
        if (parsed.Exchange.empty() || parsed.Exchange.size() > 255) std::abort();
    } else if (!parsed.Exchange.empty()) {
        std::abort();
    }
    const net::TMXReply other = net::ParseMXReply(reply, static_cast<uint16_t>(id + 1));
    if (size >= 2 && other.Status != net::TMXReplyStatus::WrongId) std::abort();
    return 0;
}
