#pragma once
// The one place where the reporter's own failures go. Every layer that
// guards a step (the options' SafeRun, the hooking engine, thread tracking,
// the report pipeline) hands the failure here; the internal error log
// installs itself as the sink at start-up, so every failure lands in one
// log. The lower layers cannot depend on the log, hence a replaceable
// function. Not signal-safe: it runs while an exception is being handled.
#include <string>

namespace crashreport {

// Receives the section text ("<step> (Address: <step address>)" or a
// pipeline section code) while the failure is being handled, so it may look
// at the current exception.
using TInternalErrorHandler = void (*)(const std::string& sectionText);

// Installs the sink (null removes it); returns the previous one.
TInternalErrorHandler SetInternalErrorHandler(TInternalErrorHandler handler);
TInternalErrorHandler InternalErrorHandler();

// Hands the failure to the sink; anything the sink raises is swallowed.
// False when no sink is installed.
bool ReportInternalError(const std::string& sectionText);

} // namespace crashreport
