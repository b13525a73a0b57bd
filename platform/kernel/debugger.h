#pragma once
// The debugger test and the debugger output channel. A process counts as
// debugged while a tracer is attached (TracerPid of /proc/self/status is not
// 0); debugger output is one line on stderr while traced, and nothing
// otherwise, so a program run without a debugger shows none of it.
#include <string_view>

namespace kernel {

// Signal-safe: open, read and close of /proc/self/status, no allocation.
bool IsDebuggerPresent();

// Writes text and a line end to stderr when a debugger is attached; drops
// it otherwise. Signal-safe (write(2) only).
void OutputDebugString(std::string_view text);

// The same line written whether or not a debugger is attached, for callers
// that made the debugger test themselves. Signal-safe.
void WriteDebugLine(std::string_view text);

} // namespace kernel
