#pragma once
// The reporter on the desktop toolkit: its desktop parts (GUI process,
// message box and question, clipboard, screenshot, bringing the main window
// to the front, the dialogs, the waiting thread's message pumping and
// focus), then the display mode of the report, the freeze watchdog when the
// options ask for it, and the interceptor of the GUI application object's
// exception handling. Started from the module's initialisation by
// crashreport_pipeline_desktop_autostart, or by a program itself. Not
// signal-safe.
#include <exception>

#include "crashreport/pipeline/reporter.h"

namespace crashreport {

TReporterParts DesktopReporterParts();
// Starts the reporter with the desktop's parts, then the rest of the
// desktop side; once.
void StartDesktopReporter();

// The GUI application object's handling of an exception that escaped an
// event handler: asks ExceptionManager (raiser kind 1) and lets the
// framework show its own message box only when the reporter leaves the
// default handling to it. An exception raised while a report is being made
// (in a handler the report runs, or while its waiting thread pumps) goes to
// the framework's own handling without a second report.
void HandleApplicationException(std::exception_ptr exception);

} // namespace crashreport
