#pragma once
// Facts about the machine the program runs on: its name, the user, memory,
// disk, up time and processor. Each read answers false or an empty value
// when the system does not give it. None of these is signal-safe (they read
// files and allocate); the report is built on the reporting thread.
#include <cstdint>
#include <string>

namespace kernel {

// The name of the user the process runs as (effective user id).
std::string UserName();

struct TMemoryStatus {
    std::uint64_t TotalBytes = 0;
    std::uint64_t AvailableBytes = 0; // what programs can still get, caches included
};
bool ReadMemoryStatus(TMemoryStatus& status);

struct TDiskSpace {
    std::uint64_t TotalBytes = 0;
    std::uint64_t AvailableBytes = 0; // available to this (unprivileged) caller
};
// The file system that holds `path`.
bool ReadDiskSpace(const std::string& path, TDiskSpace& space);

// Milliseconds since the machine started, suspended time included.
bool MillisecondsSinceBoot(std::uint64_t& milliseconds);

// The processor as the system describes it; fields it lacks stay empty.
struct TProcessorFacts {
    std::string Name;       // "model name"
    std::string Vendor;     // "vendor_id"
    std::string Identifier; // "<machine> Family <f> Model <m> Stepping <s>"
};
TProcessorFacts ReadProcessorFacts();
// The same from the text of /proc/cpuinfo (first processor) and the
// machine name of uname.
TProcessorFacts ParseProcessorFacts(const std::string& cpuinfo, const std::string& machine);

// Reads a whole (small, procfs) file; false when it cannot be opened.
bool ReadTextFile(const std::string& path, std::string& text);

} // namespace kernel
