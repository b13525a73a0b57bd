// The "Network" section: the adapters' values, each field joining them
// with " - " in adapter order.
#include <sstream>

#include "crashreport/sysinfo/system_information.h"

namespace crashreport {
namespace {

constexpr const char* kSeparator = " - ";
constexpr const char* kNoAddress = "000.000.000.000";

void Add(std::string& field, const std::string& value) { field += value + kSeparator; }

void DropLastSeparator(std::string& field)
{
    const std::string separator = kSeparator;
    if (field.size() >= separator.size() &&
        field.compare(field.size() - separator.size(), separator.size(), separator) == 0)
        field.resize(field.size() - separator.size());
}

} // namespace

std::string FormatAddress(const std::string& address)
{
    if (address.empty()) return kNoAddress;
    std::string result;
    std::istringstream parts(address);
    for (std::string part; std::getline(parts, part, '.');) {
        if (!result.empty()) result += '.';
        result += std::string(part.size() < 3 ? 3 - part.size() : 0, '0') + part;
    }
    return result;
}

TNetworkInfo NetworkInfoFrom(const std::vector<kernel::TNetworkAdapter>& adapters)
{
    TNetworkInfo info;
    for (const kernel::TNetworkAdapter& adapter : adapters) {
        // Both texts are as wide as an address and its separator.
        info.DHCP += adapter.Dhcp ? "ON              - " : "OFF             - ";
        Add(info.IPAddress, FormatAddress(adapter.Address));
        Add(info.Submask, FormatAddress(adapter.Mask));
        Add(info.Gateway, FormatAddress(adapter.Gateway));
        if (!adapter.DnsKnown) continue;
        // A resolver without servers still fills both places, as one with
        // a single server fills the second.
        const auto& servers = adapter.DnsServers;
        Add(info.DNS1, FormatAddress(servers.empty() ? "" : servers[0]));
        Add(info.DNS2, FormatAddress(servers.size() < 2 ? "" : servers[1]));
    }
    for (std::string* field : {&info.IPAddress, &info.Submask, &info.Gateway, &info.DNS1, &info.DNS2, &info.DHCP})
        DropLastSeparator(*field);
    return info;
}

TNetworkInfo GetNetworkInfo() { return NetworkInfoFrom(kernel::ReadNetworkAdapters()); }

} // namespace crashreport
