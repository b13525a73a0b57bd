#pragma once
// The report pipeline on the desktop toolkit: the pipeline's desktop hooks
// (GUI process, message box, clipboard, screenshot), the waiting thread's
// message pumping, the freeze watchdog when the options ask for it, and the
// interceptor of the GUI application object's exception handling. Installed
// from the module's initialisation by crashreport_pipeline_desktop_autostart,
// or by a program itself. Not signal-safe.
#include <exception>

namespace crashreport {

void InstallPipelineDesktop();

// The GUI application object's handling of an exception that escaped an
// event handler: asks ExceptionManager (raiser kind 1) and lets the
// framework show its own message box only when the reporter leaves the
// default handling to it. An exception raised while a report is being made
// (in a handler the report runs, or while its waiting thread pumps) goes to
// the framework's own handling without a second report.
void HandleApplicationException(std::exception_ptr exception);

} // namespace crashreport
