#include "crashreport/pipeline/report_pipeline.h"

#include "crashreport/binding/events.h"
#include "crashreport/errorlog/mail_date.h"
#include "crashreport/threads/thread_tracking.h"
#include "crashreport/modules/modules_list.h"
#include "crashreport/options/internal_error_sink.h"
#include "crashreport/pipeline/pipeline_run.h"
#include "platform/kernel/process_end.h"

#include <atomic>

namespace crashreport {
namespace {

std::atomic<int> g_section{0};

void DefaultProcessEnd(bool restart)
{
    if (restart) kernel::SpawnSameProgram();
    kernel::TerminateProcess(1);
}
std::atomic<TProcessEnd> g_processEnd{&DefaultProcessEnd};

// The stages in order; answers the pipeline's answer.
bool RunStages(TReportRun& run)
{
    SetSection(scStart);
    run.ExceptionTime = LocalNow();
    if (TTavrelThreadsList* tracked = TrackedThreads()) run.Threads = TTavrelThreadsList::PrivateCopy(*tracked);
    DropChangedModules();
    RefreshModulesList();
    PublishRecord(run);
    if (!ChooseOptionsAndFilter(run)) return false;
    if (!GatherAndPause(run)) return false;
    bool answer = false;
    if (Show(run)) {
        Persist(run);
        Deliver(run);
    } else {
        answer = true; // cancelled by an event handler: the caller's default handling runs
    }
    EndRun(run);
    return answer;
}

} // namespace

TPipelineState& PipelineState()
{
    static TPipelineState* state = new TPipelineState;
    return *state;
}

TReportRun::TReportRun(const TCapturedException& captured) : Exception(captured) {}

TReportRun::~TReportRun() { State.CopyChoice = Choices.Copy; }

bool TReportRun::SendConfigured() const { return Options->MailMethod() != mmNone || Options->WebMethod() != wmNone; }

bool TReportRun::WillSend() const
{
    return SendConfigured() && !Repeat && (Choices.Send || !Options->DialogFlags().Contains(dfShowDialog));
}

void SetSection(int section) { g_section.store(section); }

void PublishRecord(const TReportRun& run)
{
    TTavrelExceptionRecord& record = CurrentExceptionRecord();
    record.ExceptionObject = run.Exception.Exception.Object;
    record.ExceptionAddress = run.Exception.Address;
    record.ThreadID = static_cast<std::int32_t>(run.Exception.NotifyParams.ThreadID);
    record.Text = run.Exception.Message;
}

bool RunReportPipeline(TCapturedException& exception)
{
    bool answer = false;
    try {
        TReportRun run(exception);
        answer = RunStages(run);
    } catch (...) {
        ReportInternalError(std::to_string(g_section.load()));
        answer = false;
    }
    g_section.store(0);
    return answer;
}

unsigned ExceptionCounter()
{
    std::lock_guard<std::mutex> lock(PipelineState().Lock);
    return PipelineState().Counter;
}

std::string LastExceptionMessage()
{
    std::lock_guard<std::mutex> lock(PipelineState().Lock);
    return PipelineState().LastMessage;
}

TProcessEnd SetProcessEnd(TProcessEnd end) { return g_processEnd.exchange(end ? end : &DefaultProcessEnd); }

void EndProcessAfterReport(bool restart) { g_processEnd.load()(restart); }

} // namespace crashreport
