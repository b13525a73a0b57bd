#pragma once
// Facts about the current process that a report names: its command-line
// parameters and when it started. Not signal-safe (they read /proc and
// allocate).
#include <optional>
#include <string>
#include <vector>

namespace kernel {

// The parameters after the program name, as the process got them.
std::vector<std::string> GetCommandLineParameters();

// When the process started, in seconds since 1970-01-01 (universal time,
// with fractions); none when the system does not tell.
std::optional<double> GetProcessStartSeconds();

} // namespace kernel
