#pragma once
// Ending the current process at a report's request: terminating it with an
// exit code, and starting the same program again first (restart). The
// restart runs /proc/self/exe with the arguments the process got, in the
// working directory it started in, in a session of its own.
#include <string>
#include <vector>

namespace kernel {

// The working directory at start-up (read before the program's own static
// objects are made); empty when it could not be read. Signal-safe.
const char* StartupDirectory();

// Starts the program again: same executable, same arguments, the start-up
// directory, a new session. Answers the new process's ID, or 0 when it could
// not be started. Not signal-safe (allocates).
int SpawnSameProgram();
// Starts `program` with `arguments` (argv[0] included) in `directory`, in a
// new session; 0 when it could not be started.
int SpawnProgram(const std::string& program, const std::vector<std::string>& arguments, const std::string& directory);

// Ends the process at once with `exitCode`: no static destructors, no exit
// handlers, which could wait for the report that asks for the end.
// Signal-safe.
[[noreturn]] void TerminateProcess(int exitCode);

} // namespace kernel
