#include "crashreport/pipeline/pipeline_startup.h"

#include "crashreport/capture/capture_errors.h"
#include "crashreport/capture/capture_state.h"
#include "crashreport/capture/dispatcher.h"
#include "crashreport/errorlog/errorlog_hooks.h"
#include "crashreport/errorlog/internal_error.h"
#include "crashreport/capture/exception_capture.h"
#include "crashreport/pipeline/deferred_errors.h"
#include "crashreport/pipeline/delivery_worker.h"
#include "crashreport/pipeline/framework_interceptors.h"
#include "crashreport/pipeline/pipeline_desktop.h"
#include "crashreport/pipeline/report_pipeline.h"
#include "crashreport/pipeline/send_report.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>

namespace crashreport {
namespace {

std::atomic<bool> g_started{false};

// Deliveries still under way when the program ends get this long to finish;
// jobs not yet started are then kept beside the log instead.
constexpr std::chrono::seconds kDeliveryExitWait{10};
constexpr std::chrono::seconds kDeliveryKeepWait{2};

// Registered when the pipeline starts, so it runs before the destructors of
// the reporter's own statics made earlier.
void DrainDeliveriesAtExit() { TDeliveryWorker::Instance().Drain(kDeliveryExitWait, kDeliveryKeepWait); }

bool RunWithDeferredErrors(TCapturedException& exception)
{
    DrainDeferredCaptureErrors();
    return RunReportPipeline(exception);
}

const void* CapturedAddress() { return Capture().LastCapturedAddress.load(); }

std::string LastCapturedClass()
{
    const TLastException last = LastExceptionCopy();
    return last.Object.Valid() ? std::string(last.ClassName) : std::string();
}

// The internal error log's boxes go to the desktop installed when they are
// shown (the desktop side starts after the pipeline); a program without one
// shows none, which answers "No".
int DesktopBox(const std::string& text, const std::string& caption, unsigned flags)
{
    if (!PipelineDesktop().MessageBox) return 0;
    const TReporterBoxKind kind = (flags & kBoxIconStop) == kBoxIconStop ? bkError : bkInformation;
    if ((flags & kBoxYesNo) == kBoxYesNo) return DesktopAskYesNo(text, caption, kind) ? kBoxAnswerYes : kBoxAnswerNo;
    DesktopMessageBox(text, caption, kind);
    return kBoxAnswerOk;
}

} // namespace

void StartReportPipeline()
{
    if (g_started.exchange(true)) return;
    StartInternalErrorLog();
    TErrorLogHooks hooks = ErrorLogHooks();
    hooks.ExceptionAddress = &CapturedAddress;
    hooks.LastExceptionClass = &LastCapturedClass;
    hooks.MessageBox = &DesktopBox;
    SetErrorLogHooks(hooks);
    SetCaptureErrorHandler(&DeferCaptureError);
    SetReportPipeline(&RunWithDeferredErrors);
    TDeliveryWorker::Instance();
    static std::once_flag exitHook;
    std::call_once(exitHook, [] { std::atexit(&DrainDeliveriesAtExit); });
    if (!ModuleDelegates()) InstallFrameworkInterceptors();
}

void StopReportPipeline()
{
    if (!g_started.exchange(false)) return;
    SetReportPipeline(nullptr);
    RemoveFrameworkInterceptors();
    SetCaptureErrorHandler(nullptr);
    DrainDeferredCaptureErrors();
    StopInternalErrorLog();
}

bool ReportPipelineStarted() { return g_started.load(); }

} // namespace crashreport
