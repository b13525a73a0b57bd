#include "platform/net/dns_mx.h"

#include <arpa/inet.h>

#include <chrono>

#include <mutex>
#include <random>

#include "platform/kernel/machine_facts.h"
#include "platform/kernel/network_facts.h"
#include "platform/net/client_socket.h"
#include "platform/net/socket_error.h"
#include "platform/rtl/format.h"

namespace net {
namespace {

constexpr std::uint16_t kTypeMX = 15;
constexpr std::uint16_t kClassIN = 1;
constexpr std::size_t kHeaderSize = 12;
constexpr int kAttempts = 3;

std::mutex g_serversLock;
std::vector<TDnsServer> g_servers;

std::uint16_t Read16(std::span<const std::uint8_t> data, std::size_t offset)
{
    return static_cast<std::uint16_t>(data[offset] << 8 | data[offset + 1]);
}

// Reads the name at offset. next is set to the offset after the name as it
// stands at offset (after the first pointer's two bytes). False when the name
// runs past the data, loops or is not a name.
bool ReadName(std::span<const std::uint8_t> data, std::size_t offset, std::string& name, std::size_t& next,
              bool& cutShort)
{
    name.clear();
    bool jumped = false;
    int jumps = 0;
    for (;;) {
        if (offset >= data.size()) {
            cutShort = true;
            return false;
        }
        const std::uint8_t length = data[offset];
        if (length == 0) {
            if (!jumped) next = offset + 1;
            break;
        }
        if ((length & 0xC0) == 0xC0) {
            if (offset + 1 >= data.size()) {
                cutShort = true;
                return false;
            }
            const std::size_t target = static_cast<std::size_t>(length & 0x3F) << 8 | data[offset + 1];
            if (!jumped) next = offset + 2;
            jumped = true;
            // A pointer must lead backwards; a bounded count stops loops of any shape.
            if (target >= offset || ++jumps > 64) return false;
            offset = target;
            continue;
        }
        if ((length & 0xC0) != 0) return false; // the reserved label kinds
        if (offset + 1 + length > data.size()) {
            cutShort = true;
            return false;
        }
        if (!name.empty()) name += '.';
        name.append(reinterpret_cast<const char*>(data.data() + offset + 1), length);
        if (name.size() > 255) return false;
        offset += 1 + length;
    }
    return true;
}

std::uint16_t NewQueryId()
{
    static std::mutex lock;
    static std::random_device source;
    std::lock_guard<std::mutex> guard(lock);
    return static_cast<std::uint16_t>(source());
}

std::string Trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

} // namespace

std::vector<std::uint8_t> BuildMXQuery(std::string_view domain, std::uint16_t id)
{
    if (!domain.empty() && domain.back() == '.') domain.remove_suffix(1);
    if (domain.empty() || domain.size() > 253) return {};
    std::vector<std::uint8_t> query = {
        static_cast<std::uint8_t>(id >> 8), static_cast<std::uint8_t>(id), 0x01, 0x00, 0, 1, 0, 0, 0, 0, 0, 0};
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = domain.find('.', start);
        const std::string_view label = domain.substr(start, dot == std::string_view::npos ? domain.npos : dot - start);
        if (label.empty() || label.size() > 63) return {};
        query.push_back(static_cast<std::uint8_t>(label.size()));
        query.insert(query.end(), label.begin(), label.end());
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    query.insert(query.end(), {0, 0, kTypeMX, 0, kClassIN});
    return query;
}

TMXReply ParseMXReply(std::span<const std::uint8_t> reply, std::uint16_t expectedId)
{
    TMXReply result;
    if (reply.size() < kHeaderSize) {
        result.Status =
            reply.size() >= 2 && Read16(reply, 0) != expectedId ? TMXReplyStatus::WrongId : TMXReplyStatus::Truncated;
        return result;
    }
    if (Read16(reply, 0) != expectedId) {
        result.Status = TMXReplyStatus::WrongId;
        return result;
    }
    const std::uint16_t flags = Read16(reply, 2);
    if ((flags & 0x8000) == 0 || ((flags >> 11) & 0xF) != 0) return result; // not a reply to a standard query
    if (flags & 0x0200) {
        result.Status = TMXReplyStatus::Truncated;
        return result;
    }
    const int rcode = flags & 0xF;
    if (rcode == 3) {
        result.Status = TMXReplyStatus::NameError;
        return result;
    }
    if (rcode != 0) {
        result.Status = TMXReplyStatus::ServerFailure;
        return result;
    }
    const std::uint16_t questions = Read16(reply, 4);
    const std::uint16_t answers = Read16(reply, 6);

    bool cutShort = false;
    std::size_t offset = kHeaderSize;
    std::string name;
    for (std::uint16_t q = 0; q < questions; ++q) {
        std::size_t next = 0;
        if (!ReadName(reply, offset, name, next, cutShort)) {
            result.Status = cutShort ? TMXReplyStatus::Truncated : TMXReplyStatus::Malformed;
            return result;
        }
        offset = next + 4; // type and class
    }

    bool found = false;
    for (std::uint16_t a = 0; a < answers; ++a) {
        std::size_t next = 0;
        if (offset > reply.size() || !ReadName(reply, offset, name, next, cutShort) || next + 10 > reply.size()) {
            if (found) break; // keep what the complete answers gave
            result.Status = cutShort || offset >= reply.size() || next + 10 > reply.size() ? TMXReplyStatus::Truncated
                                                                                           : TMXReplyStatus::Malformed;
            return result;
        }
        const std::uint16_t type = Read16(reply, next);
        const std::uint16_t klass = Read16(reply, next + 2);
        const std::uint16_t length = Read16(reply, next + 8);
        const std::size_t data = next + 10;
        if (data + length > reply.size()) {
            if (found) break;
            result.Status = TMXReplyStatus::Truncated;
            return result;
        }
        offset = data + length;
        if (type != kTypeMX || klass != kClassIN || length < 3) continue; // a CNAME and the like
        const std::uint16_t preference = Read16(reply, data);
        std::string exchange;
        std::size_t after = 0;
        bool exchangeCut = false;
        // The exchange name must lie inside its record.
        if (!ReadName(reply.first(data + length), data + 2, exchange, after, exchangeCut) || exchange.empty()) continue;
        if (!found || preference < result.Preference) {
            result.Exchange = exchange;
            result.Preference = preference;
            found = true;
        }
    }
    result.Status = found ? TMXReplyStatus::Found : TMXReplyStatus::NoRecord;
    return result;
}

const char* MXReplyStatusText(TMXReplyStatus status)
{
    switch (status) {
    case TMXReplyStatus::Found: return "found";
    case TMXReplyStatus::NoRecord: return "no MX record";
    case TMXReplyStatus::NameError: return "no such domain";
    case TMXReplyStatus::ServerFailure: return "server failure";
    case TMXReplyStatus::WrongId: return "reply to another query";
    case TMXReplyStatus::Truncated: return "truncated reply";
    case TMXReplyStatus::Malformed: return "malformed reply";
    }
    return "";
}

std::vector<TDnsServer> ReadDNSServers(const std::string& resolvConfPath)
{
    std::vector<TDnsServer> servers;
    std::string text;
    if (!kernel::ReadTextFile(resolvConfPath, text)) return servers;
    for (const std::string& address : kernel::NameServersFromResolvConf(text))
        if (address != "0.0.0.0") servers.push_back({address, 53}); // "any": not a server to ask
    return servers;
}

std::vector<TDnsServer> GetDNSServers()
{
    {
        std::lock_guard<std::mutex> lock(g_serversLock);
        if (!g_servers.empty()) return g_servers;
    }
    std::vector<TDnsServer> servers = ReadDNSServers("/etc/resolv.conf");
    if (servers.empty()) servers.push_back({kLastResortDnsServer, 53});
    return servers;
}

void SetDNSServers(std::vector<TDnsServer> servers)
{
    std::lock_guard<std::mutex> lock(g_serversLock);
    g_servers = std::move(servers);
}

std::string ResolveMX(const std::string& address, std::uint32_t timeoutMs)
{
    const std::size_t at = address.find('@');
    const std::string domain = Trim(at == std::string::npos ? address : address.substr(at + 1));
    const std::uint32_t base = (timeoutMs + 150) / 3;
    std::string account;
    for (const TDnsServer& server : GetDNSServers()) {
        for (int attempt = 0; attempt < kAttempts; ++attempt) {
            const std::uint16_t id = NewQueryId();
            const std::vector<std::uint8_t> query = BuildMXQuery(domain, id);
            if (query.empty()) {
                account += "The domain is not a valid name.\r\n";
                goto done;
            }
            std::string outcome;
            bool definite = false;
            try {
                TTavrelClientSocket socket(server.Address, base + 100 * attempt, false, server.Port);
                socket.Connect();
                if (socket.SendBuffer(query.data(), query.size()) == static_cast<long>(query.size())) {
                    // Replies to other queries are passed over while the time lasts.
                    const auto deadline =
                        std::chrono::steady_clock::now() + std::chrono::milliseconds(socket.TimeoutMs);
                    outcome = "no reply";
                    for (;;) {
                        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                              deadline - std::chrono::steady_clock::now())
                                              .count();
                        if (left <= 0) break;
                        const std::string datagram = socket.ReceiveDatagram(static_cast<std::uint32_t>(left));
                        if (datagram.empty()) break;
                        const TMXReply reply =
                            ParseMXReply({reinterpret_cast<const std::uint8_t*>(datagram.data()), datagram.size()}, id);
                        outcome = MXReplyStatusText(reply.Status);
                        if (reply.Status == TMXReplyStatus::WrongId) continue;
                        if (reply.Status == TMXReplyStatus::Found) return reply.Exchange;
                        definite =
                            reply.Status == TMXReplyStatus::NoRecord || reply.Status == TMXReplyStatus::NameError;
                        break;
                    }
                } else {
                    outcome = "the query could not be sent";
                }
            } catch (const ETavrelSocketError& e) {
                const std::string& message = e.Message;
                outcome = message.substr(0, message.find("\r\n"));
            }
            account +=
                rtl::FormatStrings("%s port %s, attempt %s: %s\r\n",
                                   {server.Address, std::to_string(server.Port), std::to_string(attempt + 1), outcome});
            if (definite) break;
        }
    }
done:
    throw ETavrelSocketError(rtl::FormatStrings("Cannot resolve the \"%s\" MX record.", {domain}) +
                             "\r\nSocket log:\r\n" + account);
}

} // namespace net
