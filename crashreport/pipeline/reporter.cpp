#include "crashreport/pipeline/reporter.h"

#include "crashreport/capture/capture_errors.h"
#include "crashreport/capture/capture_queries.h"
#include "crashreport/capture/capture_state.h"
#include "crashreport/errorlog/errorlog_hooks.h"
#include "crashreport/errorlog/internal_error.h"
#include "crashreport/pipeline/deferred_errors.h"
#include "crashreport/pipeline/delivery_worker.h"
#include "crashreport/pipeline/framework_interceptors.h"
#include "crashreport/pipeline/report_pipeline.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>

namespace crashreport {
namespace {

std::atomic<TReporter*> g_reporter{nullptr};
std::mutex g_startLock; // serialises start and stop

// Deliveries still under way when the program ends get this long to finish;
// jobs not yet started are then kept beside the log instead.
constexpr std::chrono::seconds kDeliveryExitWait{10};
constexpr std::chrono::seconds kDeliveryKeepWait{2};

// Registered at the start, so it runs before the destructors of the
// reporter's own statics made earlier.
void DrainDeliveriesAtExit() { TDeliveryWorker::Instance().Drain(kDeliveryExitWait, kDeliveryKeepWait); }

const void* CapturedAddress() { return Capture().LastCapturedAddress.load(); }

std::string LastCapturedClass()
{
    const TLastException last = LastExceptionCopy();
    return last.Object.Valid() ? std::string(last.ClassName) : std::string();
}

// The internal error log's boxes go to the reporter's desktop; a program
// without one shows none, which answers "No".
int DesktopBox(const std::string& text, const std::string& caption, unsigned flags)
{
    if (!PipelineDesktop().MessageBox) return 0;
    const TReporterBoxKind kind = (flags & kBoxIconStop) == kBoxIconStop ? bkError : bkInformation;
    if ((flags & kBoxYesNo) == kBoxYesNo) return DesktopAskYesNo(text, caption, kind) ? kBoxAnswerYes : kBoxAnswerNo;
    DesktopMessageBox(text, caption, kind);
    return kBoxAnswerOk;
}

} // namespace

bool TReporter::RunReport(TCapturedException& exception)
{
    DrainDeferredCaptureErrors();
    return RunReportPipeline(exception);
}

TReporter& StartReporter(const TReporterParts& parts)
{
    std::lock_guard<std::mutex> lock(g_startLock);
    static TReporter* made = new TReporter(parts); // never destroyed: a late report may still read it
    if (g_reporter.load()) return *made;
    StartInternalErrorLog();
    TErrorLogHooks hooks = ErrorLogHooks();
    hooks.ExceptionAddress = &CapturedAddress;
    hooks.LastExceptionClass = &LastCapturedClass;
    hooks.MessageBox = &DesktopBox;
    SetErrorLogHooks(hooks);
    SetCaptureErrorHandler(&DeferCaptureError);
    TDeliveryWorker::Instance();
    static std::once_flag exitHook;
    std::call_once(exitHook, [] { std::atexit(&DrainDeliveriesAtExit); });
    if (!ModuleDelegates()) InstallFrameworkInterceptors();
    g_reporter.store(made);
    InstallReportHost(made);
    return *made;
}

TReporter* CurrentReporter() { return g_reporter.load(std::memory_order_acquire); }

const TReportDialogs& ReporterDialogs()
{
    static const TReportDialogs none;
    const TReporter* reporter = CurrentReporter();
    return reporter ? reporter->Parts().Dialogs : none;
}

void StopReporter()
{
    std::lock_guard<std::mutex> lock(g_startLock);
    TReporter* reporter = g_reporter.exchange(nullptr);
    if (!reporter) return;
    if (ReportHost() == reporter) InstallReportHost(nullptr);
    RemoveFrameworkInterceptors();
    SetCaptureErrorHandler(nullptr);
    DrainDeferredCaptureErrors();
    StopInternalErrorLog();
}

} // namespace crashreport
