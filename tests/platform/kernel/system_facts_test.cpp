// The machine, system and network facts, each compared with what the
// system's own commands (hostname, id, df, uname, locale, ip) say.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "platform/kernel/machine_facts.h"
#include "platform/kernel/process.h"
#include "platform/kernel/modules.h"
#include "platform/kernel/network_facts.h"
#include "platform/kernel/os_facts.h"
#include "tests/support/child_process.h"
#include "tests/support/env_scope.h"
#include "tests/support/run_command.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::ShellLine;
using testing_support::TEnvScope;

std::uint64_t Number(const std::string& text) { return std::strtoull(text.c_str(), nullptr, 10); }

std::uint64_t Difference(std::uint64_t a, std::uint64_t b) { return a > b ? a - b : b - a; }

constexpr std::uint64_t kMb = 1048576;

// The answer of `reader` in a child process that ends with _exit.
std::string InChild(std::string (*reader)())
{
    return vektest::RunInChild([reader] {
               const std::string value = reader();
               return std::fwrite(value.data(), 1, value.size(), stdout) == value.size() ? 0 : 1;
           })
        .Output;
}

} // namespace

TEST(MachineFacts, NameUserMemoryDiskAndUpTimeAgreeWithTheSystemsCommands)
{
    EXPECT_EQ(kernel::GetComputerName(), ShellLine("hostname"));
    EXPECT_EQ(kernel::UserName(), ShellLine("id -un"));

    kernel::TMemoryStatus memory;
    ASSERT_TRUE(kernel::ReadMemoryStatus(memory));
    EXPECT_EQ(memory.TotalBytes, Number(ShellLine("awk '/^MemTotal:/ {print $2}' /proc/meminfo")) * 1024);
    // Available memory moves while other programs run; free memory alone
    // (without the caches) would usually be far off.
    const std::uint64_t available = Number(ShellLine("awk '/^MemAvailable:/ {print $2}' /proc/meminfo")) * 1024;
    EXPECT_LT(Difference(memory.AvailableBytes, available), 256 * kMb);
    EXPECT_LE(memory.AvailableBytes, memory.TotalBytes);

    const std::string program = kernel::MainExecutablePath();
    kernel::TDiskSpace disk;
    ASSERT_TRUE(kernel::ReadDiskSpace(program, disk));
    std::istringstream df(ShellLine("df -B1 --output=size,avail '" + program + "' | tail -1"));
    std::uint64_t dfSize = 0, dfAvail = 0;
    df >> dfSize >> dfAvail;
    EXPECT_EQ(disk.TotalBytes, dfSize);
    EXPECT_LT(Difference(disk.AvailableBytes, dfAvail), 256 * kMb);
    EXPECT_FALSE(kernel::ReadDiskSpace("/no/such/folder/here", disk));

    std::uint64_t upMs = 0;
    ASSERT_TRUE(kernel::MillisecondsSinceBoot(upMs));
    const double procUptime = std::strtod(ShellLine("cut -d' ' -f1 /proc/uptime").c_str(), nullptr);
    EXPECT_LT(Difference(upMs / 1000, static_cast<std::uint64_t>(procUptime)), 5u);
}

TEST(MachineFacts, ProcessorFromCpuinfo)
{
    const kernel::TProcessorFacts facts = kernel::ReadProcessorFacts();
    EXPECT_EQ(facts.Name, ShellLine("awk -F': *' '/^model name/ {print $2; exit}' /proc/cpuinfo"));
    EXPECT_EQ(facts.Vendor, ShellLine("awk -F': *' '/^vendor_id/ {print $2; exit}' /proc/cpuinfo"));

    // Only the first processor's block counts; a missing name stays empty.
    const std::string cpuinfo = "processor\t: 0\nvendor_id\t: GenuineIntel\ncpu family\t: 6\nmodel\t\t: 158\n"
                                "stepping\t: 10\n\nprocessor\t: 1\nmodel name\t: Second\n";
    const kernel::TProcessorFacts parsed = kernel::ParseProcessorFacts(cpuinfo, "x86_64");
    EXPECT_EQ(parsed.Name, "");
    EXPECT_EQ(parsed.Vendor, "GenuineIntel");
    EXPECT_EQ(parsed.Identifier, "x86_64 Family 6 Model 158 Stepping 10");
    EXPECT_EQ(kernel::ParseProcessorFacts("vendor_id : X\nmodel : 1\n", "x86_64").Identifier, "");
}

TEST(OsFacts, ReleaseAgreesWithUnameAndOsRelease)
{
    const kernel::TOsRelease release = kernel::ReadOsRelease();
    EXPECT_EQ(release.SystemName, ShellLine("uname -s"));
    EXPECT_EQ(release.KernelRelease, ShellLine("uname -r"));
    EXPECT_EQ(release.KernelVersion, ShellLine("uname -v"));
    EXPECT_EQ(release.Machine, ShellLine("uname -m"));
    EXPECT_EQ(release.PrettyName, ShellLine(". /etc/os-release && printf %s \"$PRETTY_NAME\""));

    EXPECT_EQ(kernel::OsReleaseValue("NAME=Plain\nPRETTY_NAME=\"Say \\\"hi\\\" 1\"\n", "PRETTY_NAME"), "Say \"hi\" 1");
    EXPECT_EQ(kernel::OsReleaseValue("NAME='Single'\n", "NAME"), "Single");
    EXPECT_EQ(kernel::OsReleaseValue("XNAME=a\n", "NAME"), "");
}

TEST(OsFacts, LanguageAndDecimalSeparatorOfTheUsersLocale)
{
    {
        TEnvScope all("LC_ALL", "C");
        EXPECT_EQ(kernel::LocaleLanguageName(), "");
        EXPECT_EQ(kernel::LocaleDecimalSeparator(), ".");
    }
    // A German locale compiled for the test, when the system can build one.
    if (ShellLine("command -v localedef").empty()) GTEST_SKIP() << "localedef is not installed";
    const testing_support::TempDir folder;
    ShellLine("localedef -i de_DE -f UTF-8 " + folder / "de_DE.UTF-8" + " 2>/dev/null");
    std::string expected, language, separator;
    {
        TEnvScope path("LOCPATH", folder.path());
        TEnvScope all("LC_ALL", "de_DE.UTF-8");
        expected = ShellLine("locale -k language | sed 's/^language=\"\\(.*\\)\"$/\\1/'");
        // The C library keeps a little memory for each locale it loads from
        // LOCPATH; a child that ends without exit handlers keeps the leak
        // checker quiet about it.
        language = InChild(&kernel::LocaleLanguageName);
        separator = InChild(&kernel::LocaleDecimalSeparator);
    }
    if (expected.empty()) GTEST_SKIP() << "no German locale could be built";
    EXPECT_EQ(language, expected);
    EXPECT_EQ(language, "German");
    EXPECT_EQ(separator, ",");
}

TEST(NetworkFacts, AdaptersAgreeWithIp)
{
    const auto adapters = kernel::ReadNetworkAdapters();
    // One line per IPv4 address: "2: eth0    inet 192.0.2.2/24 brd ... dynamic ...".
    std::istringstream lines(ShellLine("ip -4 -o addr show | grep -v ' lo '"));
    std::vector<std::string> names;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string index, name, family, cidr;
        fields >> index >> name >> family >> cidr;
        if (!names.empty() && names.back() == name) continue; // the adapter's first address counts
        names.push_back(name);
        SCOPED_TRACE(line);
        ASSERT_GE(adapters.size(), names.size());
        const kernel::TNetworkAdapter& adapter = adapters[names.size() - 1];
        EXPECT_EQ(adapter.Name, name);
        EXPECT_EQ(adapter.Address, cidr.substr(0, cidr.find('/')));
        const int prefix = std::atoi(cidr.substr(cidr.find('/') + 1).c_str());
        const std::uint32_t mask = prefix == 0 ? 0 : ~std::uint32_t(0) << (32 - prefix);
        EXPECT_EQ(adapter.Mask,
                  std::to_string(mask >> 24) + "." + std::to_string((mask >> 16) & 255) + "." +
                      std::to_string((mask >> 8) & 255) + "." + std::to_string(mask & 255));
        EXPECT_EQ(adapter.Dhcp, line.find(" dynamic ") != std::string::npos);
        std::string gateway = ShellLine("ip -4 route show default dev " + name + " | awk '{print $3; exit}'");
        if (gateway.empty()) gateway = ShellLine("ip -4 route show dev " + name + " | awk '/ via / {print $3; exit}'");
        EXPECT_EQ(adapter.Gateway, gateway);
        std::istringstream resolv(ShellLine("awk '/^nameserver/ && $2 ~ /^[0-9.]+$/ {print $2}' /etc/resolv.conf"));
        std::vector<std::string> servers;
        for (std::string s; resolv >> s;) servers.push_back(s);
        EXPECT_EQ(adapter.DnsServers, servers);
    }
    EXPECT_EQ(adapters.size(), names.size());
}

TEST(NetworkFacts, RouteTableAndResolverTexts)
{
    const std::string table = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
                              "eth1\t000A0A0A\t0102A8C0\t0003\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
                              "eth0\t0002000A\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
                              "eth1\t00000000\t0101A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
                              "eth2\t00000000\t0101A8C0\t0002\t0\t0\t0\t00000000\t0\t0\t0\n";
    EXPECT_EQ(kernel::GatewayFromRouteTable(table, "eth1"), "192.168.1.1"); // the default route wins
    EXPECT_EQ(kernel::GatewayFromRouteTable(table, "eth0"), "");            // reached directly
    EXPECT_EQ(kernel::GatewayFromRouteTable(table, "eth2"), "");            // a route that is down
    const std::string partial = "Iface\tDestination\tGateway\tFlags\n"
                                "eth1\t000A0A0A\t0102A8C0\t0003\n";
    EXPECT_EQ(kernel::GatewayFromRouteTable(partial, "eth1"), "192.168.2.1");

    EXPECT_EQ(kernel::NameServersFromResolvConf("# comment\nsearch example.org\nnameserver 10.0.0.1\n"
                                                "nameserver fe80::1\nnameserver\t8.8.8.8 \n"),
              (std::vector<std::string>{"10.0.0.1", "8.8.8.8"}));
}
