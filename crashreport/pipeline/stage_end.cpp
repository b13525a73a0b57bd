// The last stage: the paused threads run again, the call stack is released
// and a requested end or restart of the process happens, unless the
// delivery worker does that after a background delivery.
#include "crashreport/pipeline/pipeline_run.h"
#include "crashreport/pipeline/report_pipeline.h"

namespace crashreport {

void EndRun(TReportRun& run)
{
    run.Pause.ResumeAll();
    SetSection(scReleaseStack);
    if (!run.Background) run.Stack.reset();
    SetSection(scTerminate);
    if (!run.Background && run.Choices.Terminate) EndProcessAfterReport(run.TerminateAction == taRestart);
}

} // namespace crashreport
