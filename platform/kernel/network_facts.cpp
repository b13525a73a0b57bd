#include "platform/kernel/network_facts.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <net/route.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <utility>

#include "platform/kernel/machine_facts.h"
#include "platform/kernel/unique_fd.h"

namespace kernel {
namespace {

std::string Dotted(const in_addr& address)
{
    char text[INET_ADDRSTRLEN] = {};
    return ::inet_ntop(AF_INET, &address, text, sizeof text) ? text : "";
}

struct TIfAddrsDeleter {
    void operator()(ifaddrs* list) const { ::freeifaddrs(list); }
};

// Whether each IPv4 address (by interface index and address) is permanent,
// from the kernel's address table; `ip address` shows the others as
// "dynamic". Empty when the table cannot be read.
std::map<std::pair<unsigned, std::uint32_t>, bool> ReadPermanentFlags()
{
    std::map<std::pair<unsigned, std::uint32_t>, bool> flags;
    TUniqueFd socket(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (!socket.Valid()) return flags;
    struct {
        nlmsghdr header;
        ifaddrmsg body;
    } request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = RTM_GETADDR;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = 1;
    request.body.ifa_family = AF_INET;
    if (::send(socket.Get(), &request, sizeof request, 0) < 0) return flags;
    alignas(nlmsghdr) char buffer[16384];
    for (;;) {
        ssize_t n = ::recv(socket.Get(), buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return flags;
        int left = static_cast<int>(n);
        for (auto* message = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(message, left);
             message = NLMSG_NEXT(message, left)) {
            if (message->nlmsg_type == NLMSG_DONE || message->nlmsg_type == NLMSG_ERROR) return flags;
            if (message->nlmsg_type != RTM_NEWADDR) continue;
            auto* address = static_cast<ifaddrmsg*>(NLMSG_DATA(message));
            std::uint32_t allFlags = address->ifa_flags;
            std::uint32_t local = 0;
            bool haveLocal = false;
            int length = static_cast<int>(IFA_PAYLOAD(message));
            for (auto* attribute = IFA_RTA(address); RTA_OK(attribute, length);
                 attribute = RTA_NEXT(attribute, length)) {
                if (attribute->rta_type == IFA_FLAGS && RTA_PAYLOAD(attribute) >= 4)
                    std::memcpy(&allFlags, RTA_DATA(attribute), 4);
                // IFA_LOCAL is the interface's own address; IFA_ADDRESS the
                // peer's on point-to-point links.
                if ((attribute->rta_type == IFA_LOCAL || (attribute->rta_type == IFA_ADDRESS && !haveLocal)) &&
                    RTA_PAYLOAD(attribute) >= 4) {
                    std::memcpy(&local, RTA_DATA(attribute), 4);
                    haveLocal = attribute->rta_type == IFA_LOCAL || haveLocal;
                }
            }
            flags[{address->ifa_index, local}] = (allFlags & IFA_F_PERMANENT) != 0;
        }
    }
}

} // namespace

std::string GatewayFromRouteTable(const std::string& routeTable, const std::string& name)
{
    std::istringstream lines(routeTable);
    std::string line;
    std::getline(lines, line); // the column titles
    std::string first;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string iface, destination, gateway, flagsText;
        if (!(fields >> iface >> destination >> gateway >> flagsText) || iface != name) continue;
        const unsigned long flags = std::strtoul(flagsText.c_str(), nullptr, 16);
        if (!(flags & RTF_UP) || !(flags & RTF_GATEWAY)) continue;
        // The table prints each address as the number its bytes in memory
        // make on this machine: put the number back into memory as it is.
        in_addr address{};
        address.s_addr = static_cast<std::uint32_t>(std::strtoul(gateway.c_str(), nullptr, 16));
        const std::string text = Dotted(address);
        if (std::strtoul(destination.c_str(), nullptr, 16) == 0) return text;
        if (first.empty()) first = text;
    }
    return first;
}

std::vector<std::string> NameServersFromResolvConf(const std::string& text)
{
    std::vector<std::string> servers;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string keyword, value;
        if (!(fields >> keyword >> value) || keyword != "nameserver") continue;
        in_addr address{};
        if (::inet_pton(AF_INET, value.c_str(), &address) == 1) servers.push_back(value);
    }
    return servers;
}

std::vector<TNetworkAdapter> ReadNetworkAdapters()
{
    std::vector<TNetworkAdapter> adapters;
    ifaddrs* raw = nullptr;
    if (::getifaddrs(&raw) != 0) return adapters;
    std::unique_ptr<ifaddrs, TIfAddrsDeleter> list(raw);
    const auto permanent = ReadPermanentFlags();
    for (ifaddrs* entry = list.get(); entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET || (entry->ifa_flags & IFF_LOOPBACK))
            continue;
        const unsigned index = ::if_nametoindex(entry->ifa_name);
        const bool known = std::any_of(adapters.begin(), adapters.end(),
                                       [&](const TNetworkAdapter& a) { return a.Name == entry->ifa_name; });
        if (known) continue; // the first address of each adapter
        TNetworkAdapter adapter;
        adapter.Name = entry->ifa_name;
        adapter.Index = index;
        const in_addr address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr;
        adapter.Address = Dotted(address);
        if (entry->ifa_netmask != nullptr)
            adapter.Mask = Dotted(reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask)->sin_addr);
        const auto flag = permanent.find({index, address.s_addr});
        adapter.Dhcp = flag != permanent.end() && !flag->second;
        adapters.push_back(adapter);
    }
    std::stable_sort(adapters.begin(), adapters.end(),
                     [](const TNetworkAdapter& a, const TNetworkAdapter& b) { return a.Index < b.Index; });
    std::string routes;
    const bool haveRoutes = ReadTextFile("/proc/net/route", routes);
    std::string resolvConf;
    const bool haveResolver = ReadTextFile("/etc/resolv.conf", resolvConf);
    // The resolver is the system's, not the adapter's: each adapter shows it.
    const std::vector<std::string> servers = NameServersFromResolvConf(resolvConf);
    for (TNetworkAdapter& adapter : adapters) {
        if (haveRoutes) adapter.Gateway = GatewayFromRouteTable(routes, adapter.Name);
        adapter.DnsKnown = haveResolver;
        if (haveResolver) adapter.DnsServers = servers;
    }
    return adapters;
}

} // namespace kernel
