// The fifth stage: the delivery of the report, on this thread or by the
// delivery worker, which then also does the run's follow-up (the screenshot
// file, the crash rule, the end of the process); after a delivery on this
// thread the crash rule is evaluated here.
#include "crashreport/binding/events.h"
#include "crashreport/pipeline/last_page.h"
#include "crashreport/pipeline/pipeline_run.h"
#include "crashreport/pipeline/report_pipeline.h"
#include "crashreport/pipeline/send_report.h"
#include "crashreport/report/log_file.h"
#include "crashreport/report/web_page.h"
#include "platform/kernel/files.h"

namespace crashreport {
namespace {

bool TriggeredCrashRule(std::int32_t count, std::int32_t minutes)
{
    std::lock_guard<std::mutex> lock(PipelineState().Lock);
    return PipelineState().CrashRule.Triggered(count, minutes);
}

std::unique_ptr<TSendJob> MakeSendJob(const TReportRun& run)
{
    const TTavrelModuleOptions& o = *run.Options;
    auto job = std::make_unique<TSendJob>();
    job->Options = std::make_unique<TTavrelModuleOptions>(o.ModuleFile(), false);
    job->Options->Assign(&o);
    job->Options->SetModuleFile(o.ModuleFile());
    job->LogText = run.Report.Text;
    if (o.SendFlags().Contains(sfLoadWholeLog)) {
        try {
            const TLogFile log(o.LogFileName(), true);
            if (log.Count() > 0) job->LogText = log.GetAllReports();
        } catch (...) {
        }
    }
    job->ReportText = run.Report.Text;
    job->LastPage = LastPage();
    if (run.Choices.Screenshot) job->ScreenshotFile = run.Screenshot->FileName();
    job->ExceptionTime = run.ExceptionTime;
    job->CGI = IsCGI();
    return job;
}

// What the worker does after the delivery, from values only: the run has
// ended by then.
std::function<void()> FollowUp(const TReportRun& run)
{
    const TTavrelModuleOptions& o = *run.Options;
    const bool terminate = run.Choices.Terminate;
    const TTerminateAction action = run.TerminateAction;
    const bool crashRule = o.BehaviourFlags().Contains(bhCrashRule);
    const std::int32_t count = o.CrashCount(), minutes = o.CrashMinutes();
    const TTerminateAction crashAction = o.CrashAction();
    const std::string shot = run.Screenshot->FileName();
    return [=] {
        if (!shot.empty()) kernel::DeleteFile(shot);
        ReleaseSendFolder();
        if (crashRule && TriggeredCrashRule(count, minutes))
            EndProcessAfterReport(crashAction == taRestart);
        else if (terminate)
            EndProcessAfterReport(action == taRestart);
    };
}

} // namespace

void Deliver(TReportRun& run)
{
    const TTavrelModuleOptions& o = *run.Options;
    SetSection(scSend);
    run.TerminateAction = o.TerminateAction();
    if (run.WillSend()) {
        auto job = MakeSendJob(run);
        if (o.SendFlags().Contains(sfSendInBackground)) {
            job->AfterSend = FollowUp(run);
            run.Background = SendReportInBackground(std::move(job));
        } else {
            SendReport(*job);
        }
    }
    if (run.Background) return;
    run.Screenshot->DeleteFile();
    if (o.BehaviourFlags().Contains(bhCrashRule) && TriggeredCrashRule(o.CrashCount(), o.CrashMinutes())) {
        run.Choices.Terminate = true;
        run.TerminateAction = o.CrashAction();
    }
}

} // namespace crashreport
