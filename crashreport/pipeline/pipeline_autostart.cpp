// Starts the report pipeline from the reporter module's initialisation,
// right after the capture has started from its stored options (a module
// without stored options keeps the capture, and so the pipeline, off).
// Link the object library crashreport_pipeline_autostart together with
// crashreport_capture_autostart.
#include "crashreport/capture/exception_capture.h"
#include "crashreport/pipeline/pipeline_startup.h"

namespace crashreport {
namespace {

// Priority 102 starts the capture.
__attribute__((constructor(103))) void StartReporterPipeline()
{
    if (ExceptionCaptureStarted()) StartReportPipeline();
}

} // namespace
} // namespace crashreport
