#pragma once
// The current process and the machine it runs on: the stand-in for
// GetCurrentProcessId, GetComputerName, GetEnvironmentVariable and Sleep.
#include <cstdint>
#include <optional>
#include <string>

namespace kernel {

std::uint32_t GetCurrentProcessId(); // signal-safe
// The host name; empty when the system does not tell. Not signal-safe.
std::string GetComputerName();
// The variable's value; none when it is not set. Not signal-safe.
std::optional<std::string> GetEnvironmentVariable(const char* name);
// Blocks the calling thread for about `milliseconds`. Signal-safe.
void Sleep(unsigned milliseconds);

} // namespace kernel
