#pragma once
// Internal errors: faults of the crash reporter itself. They are shown to
// the developer only, when a debugger watches the process or the process
// is the development environment: a line of debugger output, a diagnostic
// file next to the program, and the offer to send it to the reporter's
// maker. Anywhere else they leave no trace. Not signal-safe: it runs while
// a failure is being handled on an ordinary thread.
#include <string>

namespace crashreport {

inline constexpr const char* kTavrelLogVersion = "5.1.5";
// Where the offer to send a diagnostic points; the reporter has no public
// address of its own.
inline constexpr const char* kTavrelLogSupportAddress = "support@tavrellog.invalid";
inline constexpr const char* kTavrelLogBugSubject = "TavrelLog 5.1.5 critical bug.";

// Called while the failure is being handled, with the text naming where it
// happened: a pipeline section code, or "<step> (Address: <address>)".
void InternalError(const std::string& sectionText);

// Makes InternalError the process's internal error sink, so the options'
// guard, the hooking engine and the pipeline all report here; the stop
// removes it again when it is still installed.
void StartInternalErrorLog();
void StopInternalErrorLog();

// The file the diagnostic goes to: the program's path with ".log".
std::string InternalErrorLogPath();

} // namespace crashreport
