#pragma once
// The values of the report's "Computer", "Operating System" and "Network"
// sections. Each is read from the system when asked, nothing is cached, and
// a value the system does not give is an empty string (or the placeholder
// named below). Not signal-safe: they read files and allocate, and run on
// the reporting thread.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/kernel/machine_facts.h"
#include "platform/kernel/network_facts.h"

namespace crashreport {

// Computer.
std::string ReadComputerName(); // the host name
std::string ReadUserName();     // the user the program runs as
std::string GetTotalMemory();   // "<n> Mb"
std::string GetFreeMemory();    // "<n> Mb", memory still available to programs
std::string GetTotalDisk();     // "<n.nn> Gb" of the file system holding the program
std::string GetFreeDisk();      // "<n.nn> Gb" available to this user there
std::string GetUpTime();        // "[<d> days, ][<h> hours, ]<m> minutes, <s> seconds"
std::string GetProcessorName(); // "Unknown processor" when the system names none
std::string GetDisplayMode();   // "<w> x <h>, <bits> bit"; empty without a display query

// The screen is read through the toolkit, which a console program does not
// link: the display query is installed by the toolkit's side
// (InstallDisplayModeQuery in sysinfo/display_mode_query.h, library
// crashreport_sysinfo_display). Without one the display mode is empty.
using TDisplayModeQuery = bool (*)(int& width, int& height, int& bitsPerPixel);
TDisplayModeQuery SetDisplayModeQuery(TDisplayModeQuery query);

// Operating System.
std::string GetWindowsName();    // the distribution's name ("Debian GNU/Linux 12 (bookworm)")
std::string GetWindowsBuild();   // the kernel release
std::string GetWindowsUpdate();  // the kernel's build version
std::string GetSystemLanguage(); // the English name of the locale's language

// Network: one value per field, the adapters' values joined by " - ".
struct TNetworkInfo {
    std::string IPAddress, Submask, Gateway, DNS1, DNS2, DHCP;
};
TNetworkInfo GetNetworkInfo();

// The formatting rules, apart from the reads.

// Bytes in whole mebibytes, halves to the even number, and " Mb".
std::string FormatMegabytes(std::uint64_t bytes);
// Bytes in gibibytes with at most two decimals and no trailing zeros, the
// decimal separator given, and " Gb".
std::string FormatGigabytes(std::uint64_t bytes, const std::string& decimalSeparator);
std::string FormatUpTime(std::uint64_t milliseconds);
std::string ProcessorNameFrom(const kernel::TProcessorFacts& facts);
// "192.168.1.20" -> "192.168.001.020"; "" -> "000.000.000.000".
std::string FormatAddress(const std::string& address);
TNetworkInfo NetworkInfoFrom(const std::vector<kernel::TNetworkAdapter>& adapters);

} // namespace crashreport
