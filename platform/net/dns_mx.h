#pragma once
// The mail-exchanger lookup: our own DNS query (RFC 1035) over UDP to the
// name servers of /etc/resolv.conf, and the parser of the reply. The parser
// reads only inside the reply it is given, whatever the reply holds.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace net {

struct TDnsServer {
    std::string Address; // dotted IPv4 address
    std::uint16_t Port = 53;
};

// The query for the MX records of domain with the given identifier; empty
// when the domain cannot be written as labels (an empty label, a label
// longer than 63 bytes, a name longer than 255).
std::vector<std::uint8_t> BuildMXQuery(std::string_view domain, std::uint16_t id);

enum class TMXReplyStatus {
    Found,         // Exchange holds the exchanger with the lowest preference
    NoRecord,      // the name exists but has no usable MX record
    NameError,     // the name does not exist (NXDOMAIN)
    ServerFailure, // any other response code
    WrongId,       // not the answer to our query
    Truncated,     // the server cut the reply (TC) or the data ends early
    Malformed,     // not a DNS reply we can read
};

struct TMXReply {
    TMXReplyStatus Status = TMXReplyStatus::Malformed;
    std::string Exchange;
    std::uint16_t Preference = 0;
};

// Parses a reply to BuildMXQuery(..., expectedId). Among the MX answers the
// one with the lowest preference wins.
TMXReply ParseMXReply(std::span<const std::uint8_t> reply, std::uint16_t expectedId);

// A short text for a status, for the lookup's account of what happened.
const char* MXReplyStatusText(TMXReplyStatus status);

// The "nameserver" entries of a resolv.conf file that are IPv4 addresses
// other than 0.0.0.0, in order.
std::vector<TDnsServer> ReadDNSServers(const std::string& resolvConfPath);

// The servers the lookup asks: those set by SetDNSServers, else those of
// /etc/resolv.conf, else the one fixed public server kept as a last resort.
std::vector<TDnsServer> GetDNSServers();
// Replaces the servers of GetDNSServers for the process; an empty list goes
// back to /etc/resolv.conf.
void SetDNSServers(std::vector<TDnsServer> servers);

// The host name of the mail exchanger for the domain of address (the text
// after its first "@", the whole address without one). Each server is asked
// up to three times, each attempt waiting (timeoutMs + 150) / 3 plus 100 ms
// per earlier attempt; a definite answer (found, no record, no such name)
// ends the attempts at that server. Nothing found raises ETavrelSocketError
// "Cannot resolve the \"<domain>\" MX record." followed by the account of
// each attempt.
std::string ResolveMX(const std::string& address, std::uint32_t timeoutMs);

// The fixed public server of the last resort.
inline constexpr const char* kLastResortDnsServer = "9.9.9.9";

} // namespace net
