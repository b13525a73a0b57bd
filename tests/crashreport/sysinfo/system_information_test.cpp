// The report's system information: the formatting rules with fixed inputs,
// and each value read from this machine compared with what the system's
// commands say.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "crashreport/sysinfo/display_mode_query.h"
#include "crashreport/sysinfo/system_information.h"
#include "platform/kernel/modules.h"
#include "tests/support/child_process.h"
#include "tests/support/run_command.h"

using namespace crashreport;

namespace {

using testing_support::ShellLine;

constexpr std::uint64_t kMb = 1048576;
constexpr std::uint64_t kGb = 1073741824;

// Runs GetDisplayMode in a child with the given environment variable set,
// so that the child chooses its own display backend.
std::string DisplayModeInChild(const char* name, const char* value)
{
    return vektest::RunInChild([name, value] {
               setenv(name, value, 1);
               InstallDisplayModeQuery();
               const std::string mode = GetDisplayMode();
               return std::fwrite(mode.data(), 1, mode.size(), stdout) == mode.size() ? 0 : 1;
           })
        .Output;
}

} // namespace

TEST(SystemInformationFormat, MemoryInWholeMegabytesHalvesToEven)
{
    EXPECT_EQ(FormatMegabytes(0), "0 Mb");
    EXPECT_EQ(FormatMegabytes(kMb / 2), "0 Mb");
    EXPECT_EQ(FormatMegabytes(kMb / 2 + 1), "1 Mb");
    EXPECT_EQ(FormatMegabytes(kMb + kMb / 2), "2 Mb");
    EXPECT_EQ(FormatMegabytes(2 * kMb + kMb / 2), "2 Mb");
    EXPECT_EQ(FormatMegabytes(2 * kMb + kMb / 2 + 1), "3 Mb");
    EXPECT_EQ(FormatMegabytes(16384 * kMb - 1), "16384 Mb");
}

TEST(SystemInformationFormat, DiskInGigabytesWithAtMostTwoDecimals)
{
    EXPECT_EQ(FormatGigabytes(0, "."), "0 Gb");
    EXPECT_EQ(FormatGigabytes(kGb, "."), "1 Gb");
    EXPECT_EQ(FormatGigabytes(kGb + kGb / 2, ","), "1,5 Gb");
    EXPECT_EQ(FormatGigabytes(kGb + kGb / 4, "."), "1.25 Gb");
    EXPECT_EQ(FormatGigabytes(kGb + kGb / 10, "."), "1.1 Gb");
    EXPECT_EQ(FormatGigabytes(2 * kGb - kGb / 1000, "."), "2 Gb"); // 1.999 rounds up to a whole number
    EXPECT_EQ(FormatGigabytes(kGb / 200 + 1, "."), "0.01 Gb");     // 0.005 rounds up
    EXPECT_EQ(FormatGigabytes(kGb / 200 - 1, "."), "0 Gb");
    EXPECT_EQ(FormatGigabytes(std::uint64_t(931) * kGb + kGb * 51 / 100, "."), "931.51 Gb");
}

TEST(SystemInformationFormat, UpTimeNamesOnlyTheUnitsThatAreThere)
{
    constexpr std::uint64_t kSecond = 1000, kMinute = 60 * kSecond, kHour = 60 * kMinute, kDay = 24 * kHour;
    // One day and 30 seconds: no hour part, 0 minute in the singular.
    EXPECT_EQ(FormatUpTime(kDay + 30 * kSecond), "1 day, 0 minute, 30 seconds");
    EXPECT_EQ(FormatUpTime(0), "0 minute, 0 second");
    EXPECT_EQ(FormatUpTime(3 * kSecond + 999), "0 minute, 3 seconds"); // a fraction of days would give 2
    EXPECT_EQ(FormatUpTime(kHour + kMinute + kSecond), "1 hour, 1 minute, 1 second");
    EXPECT_EQ(FormatUpTime(2 * kDay + 2 * kHour + 2 * kMinute + 2 * kSecond), "2 days, 2 hours, 2 minutes, 2 seconds");
    // Beyond the 49.7 days a 32-bit millisecond counter holds.
    EXPECT_EQ(FormatUpTime(60 * kDay + 5 * kHour), "60 days, 5 hours, 0 minute, 0 second");
}

TEST(SystemInformationFormat, ProcessorNameFallsBackToVendorAndIdentifier)
{
    EXPECT_EQ(ProcessorNameFrom({"  AMD EPYC 7763  ", "AuthenticAMD", "x86_64 Family 25 Model 1 Stepping 1"}),
              "AMD EPYC 7763");
    EXPECT_EQ(ProcessorNameFrom({" ", " GenuineIntel ", " x86_64 Family 6 Model 158 Stepping 10 "}),
              "GenuineIntel - x86_64 Family 6 Model 158 Stepping 10");
    EXPECT_EQ(ProcessorNameFrom({"", "GenuineIntel", ""}), "GenuineIntel");
    EXPECT_EQ(ProcessorNameFrom({"", "", "x86_64 Family 6 Model 1 Stepping 1"}), "Unknown processor");
    EXPECT_EQ(ProcessorNameFrom({}), "Unknown processor");
}

TEST(SystemInformationFormat, AddressesArePaddedToThreeDigitsPerPart)
{
    EXPECT_EQ(FormatAddress(""), "000.000.000.000");
    EXPECT_EQ(FormatAddress("192.168.1.20"), "192.168.001.020");
    EXPECT_EQ(FormatAddress("0.0.0.0"), "000.000.000.000");
    EXPECT_EQ(FormatAddress("10.255.255.53"), "010.255.255.053");
}

TEST(SystemInformationFormat, NetworkFieldsJoinTheAdaptersInOrder)
{
    kernel::TNetworkAdapter first;
    first.Address = "192.168.1.20";
    first.Mask = "255.255.255.0";
    first.Gateway = "192.168.1.1";
    first.Dhcp = true;
    first.DnsKnown = true;
    first.DnsServers = {"192.168.1.1"}; // a single server
    kernel::TNetworkAdapter second;
    second.Address = "10.0.0.5";
    second.Mask = "255.0.0.0";
    second.DnsKnown = true;
    second.DnsServers = {"8.8.8.8", "8.8.4.4", "1.1.1.1"}; // the third is left out

    const TNetworkInfo info = NetworkInfoFrom({first, second});
    EXPECT_EQ(info.IPAddress, "192.168.001.020 - 010.000.000.005");
    EXPECT_EQ(info.Submask, "255.255.255.000 - 255.000.000.000");
    EXPECT_EQ(info.Gateway, "192.168.001.001 - 000.000.000.000");
    EXPECT_EQ(info.DNS1, "192.168.001.001 - 008.008.008.008");
    EXPECT_EQ(info.DNS2, "000.000.000.000 - 008.008.004.004");
    EXPECT_EQ(info.DHCP, "ON              - OFF            ");

    // An adapter whose resolver is unknown adds nothing to the DNS fields.
    second.DnsKnown = false;
    const TNetworkInfo partial = NetworkInfoFrom({first, second});
    EXPECT_EQ(partial.DNS1, "192.168.001.001");
    EXPECT_EQ(partial.DNS2, "000.000.000.000");

    const TNetworkInfo none = NetworkInfoFrom({});
    EXPECT_EQ(none.IPAddress + none.Submask + none.Gateway + none.DNS1 + none.DNS2 + none.DHCP, "");
}

TEST(SystemInformation, ComputerValuesAgreeWithTheSystemsCommands)
{
    EXPECT_EQ(ReadComputerName(), ShellLine("hostname"));
    EXPECT_EQ(ReadUserName(), ShellLine("id -un"));
    EXPECT_EQ(GetTotalMemory(),
              FormatMegabytes(
                  std::strtoull(ShellLine("awk '/^MemTotal:/ {print $2}' /proc/meminfo").c_str(), nullptr, 10) * 1024));
    EXPECT_NE(GetFreeMemory().find(" Mb"), std::string::npos);

    const std::string program = kernel::MainExecutablePath();
    std::istringstream df(ShellLine("df -B1 --output=size '" + program + "' | tail -1"));
    std::uint64_t size = 0;
    df >> size;
    // The program's own locale is not the user's: the separator follows LC_ALL.
    setenv("LC_ALL", "C", 1);
    EXPECT_EQ(GetTotalDisk(), FormatGigabytes(size, "."));
    EXPECT_NE(GetFreeDisk().find(" Gb"), std::string::npos);

    const std::string upTime = GetUpTime();
    const long procSeconds = std::strtol(ShellLine("cut -d. -f1 /proc/uptime").c_str(), nullptr, 10);
    if (procSeconds % 60 >= 5) { // the second reading is not in a later minute than the first
        EXPECT_EQ(upTime.substr(0, upTime.rfind(", ")),
                  FormatUpTime(std::uint64_t(procSeconds) * 1000).substr(0, upTime.rfind(", ")));
    }

    const std::string name = ShellLine("awk -F': *' '/^model name/ {print $2; exit}' /proc/cpuinfo");
    if (!name.empty()) {
        EXPECT_EQ(GetProcessorName(), name);
    }
}

TEST(SystemInformation, OperatingSystemValuesAgreeWithUnameAndOsRelease)
{
    EXPECT_EQ(GetWindowsName(), ShellLine(". /etc/os-release && printf %s \"$PRETTY_NAME\""));
    EXPECT_EQ(GetWindowsBuild(), ShellLine("uname -r"));
    EXPECT_EQ(GetWindowsUpdate(), ShellLine("uname -v"));
    setenv("LC_ALL", "C", 1);
    EXPECT_EQ(GetSystemLanguage(), ShellLine("locale -k language | sed 's/^language=\"\\(.*\\)\"$/\\1/'"));
}

TEST(SystemInformation, NetworkValuesAgreeWithIp)
{
    // The first IPv4 address of each adapter other than loopback, in order.
    std::istringstream lines(ShellLine("ip -4 -o addr show | grep -v ' lo '"));
    std::string expected, last;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string index, name, family, cidr;
        fields >> index >> name >> family >> cidr;
        if (name == last) continue;
        last = name;
        expected += (expected.empty() ? "" : " - ") + FormatAddress(cidr.substr(0, cidr.find('/')));
    }
    EXPECT_EQ(GetNetworkInfo().IPAddress, expected);
}

TEST(SystemInformation, DisplayModeOfTheHeadlessDesktopAndOfTheXServer)
{
    EXPECT_EQ(DisplayModeInChild("VEK_UI_BACKEND", "headless"), "1280 x 1024, 32 bit");
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0' || ShellLine("command -v xdpyinfo").empty())
        GTEST_SKIP() << "no X display to compare with";
    const std::string size = ShellLine("xdpyinfo | awk '/dimensions:/ {print $2; exit}'"); // "1280x1024"
    const std::string depth = ShellLine("xdpyinfo | awk '/depth of root window:/ {print $5; exit}'");
    // The bits per pixel of the root window's depth among the pixmap formats.
    const std::string bits =
        ShellLine("xdpyinfo | awk '/depth " + depth + ", bits_per_pixel/ {sub(\",\", \"\", $4); print $4; exit}'");
    const std::string width = size.substr(0, size.find('x'));
    const std::string height = size.substr(size.find('x') + 1);
    EXPECT_EQ(DisplayModeInChild("VEK_UI_BACKEND", "x11"), width + " x " + height + ", " + bits + " bit");
}
