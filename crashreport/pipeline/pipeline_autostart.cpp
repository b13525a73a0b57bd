// The reporter of a console program, started right after the capture from
// the module's initialisation (see capture/reporter_start.h). Link the
// object library crashreport_pipeline_autostart together with
// crashreport_capture_autostart; a desktop program links
// crashreport_pipeline_desktop_autostart instead. Programs built on the
// package get both from TavrelLog::TavrelLog (the archive crashreport_autostart).
// Weak: a desktop start linked into the same program takes its place.
#include "crashreport/capture/reporter_start.h"
#include "crashreport/pipeline/reporter.h"

extern "C" __attribute__((weak)) void TavrelLog_StartReporter() { crashreport::StartReporter(); }
