#pragma once
// The reporter of this process: the one owner of what a report uses beyond
// the capture (the desktop's message box, clipboard and screenshot, the
// dialogs, the waiting thread's pump and focus, the internal error log's
// hooks, the delivery worker), made once by StartReporter, the composition
// root, and read through one atomic pointer. It is the capture's report
// host: the dispatcher runs its pipeline.
// A console program starts it without parts; the desktop side starts it
// with its own (desktop/pipeline_desktop_ui.h). The autostart object
// libraries do it from the module's initialisation, right after the
// capture started. Nothing here is signal-safe.
#include "crashreport/capture/report_host.h"
#include "crashreport/pipeline/pipeline_desktop.h"
#include "crashreport/report/report_dialogs.h"

namespace crashreport {

// What the program brings besides the pipeline; empty for a console program.
struct TReporterParts {
    TPipelineDesktop Desktop;
    TReportDialogs Dialogs;
    // One round of the waiting main thread's messages (false: stop pumping).
    bool (*PumpWaiting)() = nullptr;
    // The faulting thread's focused window, read on that thread.
    void (*FillFocus)(TExceptNotifyParams& params) = nullptr;
};

class TReporter final : public TReportHost {
public:
    explicit TReporter(const TReporterParts& parts) : parts_(parts) {}
    const TReporterParts& Parts() const { return parts_; }

    bool RunReport(TCapturedException& exception) override;
    bool PumpWaiting() override { return parts_.PumpWaiting && parts_.PumpWaiting(); }
    void FillFocus(TExceptNotifyParams& params) override
    {
        if (parts_.FillFocus) parts_.FillFocus(params);
    }

private:
    const TReporterParts parts_;
};

// Starts the reporter once, in this order: the internal error log and its
// hooks, the capture's errors deferred to it, the delivery worker with its
// bounded wait at exit, the framework interceptors, and last the report
// host of the capture. A second call answers the reporter made first.
TReporter& StartReporter(const TReporterParts& parts = {});
// The reporter, or null before StartReporter.
TReporter* CurrentReporter();
// The reporter's dialogs; an empty record without a reporter or dialogs.
const TReportDialogs& ReporterDialogs();
// Takes the reporter away again (tests and shut-down: the capture then
// reports nothing). The object itself stays: a report may still read it.
void StopReporter();

} // namespace crashreport
