// The reporter of a desktop program, started right after the capture from
// the module's initialisation (see capture/reporter_start.h). Link the
// object library crashreport_pipeline_desktop_autostart together with
// crashreport_capture_autostart, in place of crashreport_pipeline_autostart;
// programs built on the package get it from TavrelLog::Desktop (the archive
// crashreport_desktop_autostart). This start is strong: the console start's
// weak one, linked into the same program, gives way to it.
#include "crashreport/capture/reporter_start.h"
#include "crashreport/pipeline/desktop/pipeline_desktop_ui.h"

extern "C" void TavrelLog_StartReporter() { crashreport::StartDesktopReporter(); }

// The symbol by which TavrelLog::Desktop's link line takes this object out
// of its archive: nothing calls it.
extern "C" __attribute__((used)) void TavrelLog_LinkDesktopAutostart() {}
