#pragma once
// The current process and the machine it runs on: the stand-in for
// GetCurrentProcessId and GetComputerName.
#include <cstdint>
#include <string>

namespace kernel {

std::uint32_t GetCurrentProcessId();  // signal-safe
// The host name; empty when the system does not tell. Not signal-safe.
std::string GetComputerName();

} // namespace kernel
