#pragma once
// The guard of the reporter's own start-up and shut-down steps, and the
// start-up of the options core. None of this is signal-safe: it runs at
// start-up and shut-down only.
#include <string>

#include "crashreport/options/internal_error_sink.h"

namespace crashreport {

using TSafeRunStep = void (*)();

// Runs `step`. True when it ran through. When it fails and an internal-error
// sink is installed, the sink gets "<name> (Address: <step address>)" and
// SafeRun returns false without raising; without a sink it raises
// ECriticalError with "Critical error at: \"<name>\"\r\nError: \"<message>\"."
// (or "General internal error." for a failure whose message is missing or
// empty).
bool SafeRun(TSafeRunStep step, const std::string& name);

// The development environment's executable, compared in upper case with
// the file name of the program.
inline constexpr const char* DesignTimeHostExecutable = "TAVRELIDE";

// Whether the file `programFile` is the development environment's.
bool IsDesignTimeHostFile(const std::string& programFile);

// Start-up and shut-down of the options core, guarded as "TCore.Init" and
// "TCore.Done". Start-up records whether this process is the development
// environment (the freeze watchdog does not start there).
bool TavrelCoreInit();
bool TavrelCoreDone();
bool IsDesignTimeHost();

} // namespace crashreport
