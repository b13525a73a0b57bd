#include "crashreport/pipeline/pipeline_startup.h"

#include "crashreport/capture/capture_errors.h"
#include "crashreport/capture/capture_state.h"
#include "crashreport/capture/dispatcher.h"
#include "crashreport/capture/errorlog/errorlog_hooks.h"
#include "crashreport/capture/errorlog/internal_error.h"
#include "crashreport/capture/exception_capture.h"
#include "crashreport/pipeline/deferred_errors.h"
#include "crashreport/pipeline/framework_interceptors.h"
#include "crashreport/pipeline/pipeline_desktop.h"
#include "crashreport/pipeline/report_pipeline.h"
#include "crashreport/pipeline/send_report.h"

#include <atomic>

namespace crashreport {
namespace {

std::atomic<bool> g_started{false};

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

int DesktopBox(const std::string& text, const std::string& caption, unsigned flags)
{
    DesktopMessageBox(text, caption, (flags & kBoxIconStop) == kBoxIconStop ? bkError : bkInformation);
    return 0; // the log's questions are answered "No" by a box with only OK
}

} // namespace

void StartReportPipeline()
{
    if (g_started.exchange(true)) return;
    StartInternalErrorLog();
    TErrorLogHooks hooks = ErrorLogHooks();
    hooks.ExceptionAddress = &CapturedAddress;
    hooks.LastExceptionClass = &LastCapturedClass;
    if (PipelineDesktop().MessageBox) hooks.MessageBox = &DesktopBox;
    SetErrorLogHooks(hooks);
    SetCaptureErrorHandler(&DeferCaptureError);
    SetReportPipeline(&RunWithDeferredErrors);
    SetDispatchGate(&WaitForStartedSends);
    if (!ModuleDelegates()) InstallFrameworkInterceptors();
}

void StopReportPipeline()
{
    if (!g_started.exchange(false)) return;
    SetReportPipeline(nullptr);
    SetDispatchGate(nullptr);
    RemoveFrameworkInterceptors();
    SetCaptureErrorHandler(nullptr);
    DrainDeferredCaptureErrors();
    StopInternalErrorLog();
}

bool ReportPipelineStarted() { return g_started.load(); }

} // namespace crashreport
