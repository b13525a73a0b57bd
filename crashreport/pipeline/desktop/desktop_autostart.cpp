// Installs the pipeline's desktop side from the reporter module's
// initialisation, after the capture and the pipeline have started. Link the
// object library crashreport_pipeline_desktop_autostart together with the
// other two autostart libraries.
#include "crashreport/capture/exception_capture.h"
#include "crashreport/pipeline/desktop/pipeline_desktop_ui.h"

namespace crashreport {
namespace {

// 102 starts the capture, 103 the pipeline.
__attribute__((constructor(104))) void StartReporterDesktop()
{
    if (ExceptionCaptureStarted()) InstallPipelineDesktop();
}

} // namespace
} // namespace crashreport
