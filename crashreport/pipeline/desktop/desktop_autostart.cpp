// The reporter of a desktop program, started right after the capture from
// the module's initialisation (see capture/reporter_start.h). Link the
// object library crashreport_pipeline_desktop_autostart together with
// crashreport_capture_autostart, in place of crashreport_pipeline_autostart.
#include "crashreport/capture/reporter_start.h"
#include "crashreport/pipeline/desktop/pipeline_desktop_ui.h"

extern "C" void TavrelLog_StartReporter() { crashreport::StartDesktopReporter(); }
