#pragma once
// The start of the report pipeline: the internal error log becomes the
// sink of the reporter's failures (the capture's own errors are deferred to
// it signal-safely), its hooks learn the capture's exception, and the
// dispatcher gets the pipeline. Run after the capture has started; the
// autostart object library crashreport_pipeline_autostart does it from the
// module's initialisation. Not signal-safe.
namespace crashreport {

void StartReportPipeline();
// Takes the pipeline away again (tests; the capture then reports nothing).
void StopReportPipeline();
bool ReportPipelineStarted();

} // namespace crashreport
