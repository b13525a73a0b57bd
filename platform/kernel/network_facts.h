#pragma once
// The network adapters as the report lists them: every interface other than
// loopback that has an IPv4 address, in interface index order, with its
// first IPv4 address and mask, its gateway, whether the address was leased
// (DHCP) and the name servers. Not signal-safe.
#include <string>
#include <vector>

namespace kernel {

struct TNetworkAdapter {
    std::string Name;    // "eth0"
    unsigned Index = 0;  // interface index
    std::string Address; // dotted IPv4 text
    std::string Mask;
    std::string Gateway;                 // empty when no route through this adapter has one
    bool Dhcp = false;                   // the address has a lease time (not a permanent address)
    bool DnsKnown = false;               // the resolver configuration could be read
    std::vector<std::string> DnsServers; // IPv4 name servers, in order
};

std::vector<TNetworkAdapter> ReadNetworkAdapters();

// The gateway of interface `name` in the text of /proc/net/route: that of
// its default route, else of its first route through a gateway; empty when
// it has none.
std::string GatewayFromRouteTable(const std::string& routeTable, const std::string& name);

// The IPv4 "nameserver" entries of a resolv.conf text, in order.
std::vector<std::string> NameServersFromResolvConf(const std::string& text);

} // namespace kernel
