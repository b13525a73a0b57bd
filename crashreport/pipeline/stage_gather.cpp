// The second stage: the report's facts and call stacks, gathered while the
// faulting thread waits, then the pause of the threads the options ask for.
#include "crashreport/pipeline/pipeline_desktop.h"
#include "crashreport/pipeline/pipeline_run.h"
#include "crashreport/pipeline/report_pipeline.h"
#include "crashreport/report/captured_report.h"

namespace crashreport {

bool GatherAndPause(TReportRun& run)
{
    const TTavrelModuleOptions& o = *run.Options;
    SetSection(scNotifyParams);
    SetSection(scCallStack);
    TGatherOptions gather;
    DesktopActiveForm(run.Exception.NotifyParams.ThreadID, gather.FormClass, gather.FormText);
    gather.RunningThreads = o.StackFlags().Contains(stRuntimeThreads) || o.StackFlags().Contains(stSystemThreads);
    run.Sources = GatherReportSources(run.Exception, o, gather, run.Stack);

    SetSection(scPauseThreads);
    if (run.Exception.CaptureMode == cmThreadBody) return false;
    if (run.Threads) run.Pause.Pause(*run.Threads, o.BehaviourFlags(), run.Exception.NotifyParams.ThreadID);
    return true;
}

} // namespace crashreport
