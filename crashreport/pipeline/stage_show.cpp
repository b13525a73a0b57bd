// The third stage: the report text, the exception-notify event (which may
// cancel the report), the screenshot, the crash rule's time, the custom
// data, the counter and the message, and what the user sees: the exception
// dialog, the console text or the web page, and the request dialog.
#include "crashreport/binding/events.h"
#include "crashreport/binding/handling_thread.h"
#include "crashreport/errorlog/warnings.h"
#include "crashreport/modules/modules_list.h"
#include "crashreport/pipeline/framework_interceptors.h"
#include "crashreport/pipeline/last_page.h"
#include "crashreport/pipeline/pipeline_run.h"
#include "crashreport/pipeline/reporter.h"
#include "crashreport/pipeline/report_pipeline.h"
#include "crashreport/report/captured_report.h"
#include "crashreport/report/log_file.h"
#include "crashreport/report/web_page.h"
#include "platform/kernel/files.h"

namespace crashreport {
namespace {

bool IsRepeat(const TReportRun& run)
{
    try {
        const TLogFile log(run.Options->LogFileName(), true);
        const auto& items = run.Sources.Items;
        return log.IsDuplicate({"2.2", "2.3", "2.4", "2.5"},
                               {items[riExceptionAddress], items[riExceptionModule], items[riExceptionType],
                                items[riExceptionMessage]});
    } catch (...) {
        return false; // a log that cannot be read holds no repeat
    }
}

void ShowDialog(TReportRun& run)
{
    const TTavrelModuleOptions& o = *run.Options;
    SetSection(scDialog);
    TDialogReport dialogReport;
    dialogReport.Report = &run.Report;
    dialogReport.Sources = &run.Sources;
    dialogReport.Options = run.Options.get();
    dialogReport.ExceptionMessage = run.State.LastMessage;
    dialogReport.CustomData = run.Sources.CustomData;
    dialogReport.ErrorsHandled = run.State.Counter;
    dialogReport.SendConfigured = run.SendConfigured();
    dialogReport.SendSuppressed = run.Repeat;
    // The terminate button asks the handlers first (action 8); clearing
    // the flag keeps the program running and shows the report again.
    dialogReport.TerminateNotify = [](bool& terminate) {
        ClearWarning();
        int value = terminate ? 1 : 0;
        DispatchExceptionActionNotify(CurrentExceptionRecord(), 8, &value);
        terminate = value != 0;
    };
    const bool web = IsWebApplication();
    const std::uint8_t raiser = run.Exception.RaiserKind;
    if (o.DialogFlags().Contains(dfShowDialog)) {
        SetSection(scBeforeDialog);
        ClearWarning();
        int value = 1;
        DispatchExceptionActionNotify(CurrentExceptionRecord(), 0, &value);
        if (value) {
            SetSection(scDialogKind);
            if (raiser == rkWebApplication || (raiser == rkRuntime && web)) {
                TReporterWritesScope own;
                ShowWebError(run.Report.Text, o);
            } else if (raiser <= rkApplication && !run.Gui) {
                TReporterWritesScope own;
                const std::string text = run.Report.Text + "\r\n";
                if (!kernel::WriteAll(1, text.data(), text.size())) Warning(eeShowError, "Console");
            } else {
                const auto show = ReporterDialogs().ShowExceptionDialog;
                bool shown = false;
                try {
                    shown = show && show(dialogReport, run.Choices);
                } catch (...) {
                    Warning(eeShowError, "GUI");
                    shown = true;
                }
                if (!shown) Warning(eeShowError, "GUI");
            }
            SetSection(scAfterDialog);
            DispatchExceptionActionNotify(CurrentExceptionRecord(), 1, &value);
        }
    } else if (web) {
        TReporterWritesScope own;
        ShowWebError(run.State.LastMessage, o);
    }
    if (o.LogFlags().Contains(lgAddReproduceText) && run.Gui && !run.Repeat && (run.Choices.Send || o.SaveLog()))
        if (const auto request = ReporterDialogs().ShowReproduceRequest) request(dialogReport);
}

} // namespace

bool Show(TReportRun& run)
{
    const TTavrelModuleOptions& o = *run.Options;
    SetSection(scReportGoesOn);
    if (o.LogFlags().Contains(lgModulesSection)) RefreshModulesList();
    SetSection(scPublish);
    SetSection(scReportText);
    run.Report = BuildReportText(run.Sources, o);
    SetSection(scExceptionRecord);
    PublishRecord(run);
    if (o.LogFlags().Contains(lgSkipRepeatedErrors)) run.Repeat = IsRepeat(run);
    SetSection(scClearWarning);
    ClearWarning();
    SetSection(scScreenshot);
    run.Screenshot.emplace(o);
    if (IsCGI()) SetLastPage(BuildErrorPage(run.Report.Text, true, o).Html);
    bool handle = true;
    RunInHandlingThread([&] { DispatchExceptionNotify(CurrentExceptionRecord(), handle); });
    if (!handle) return false; // cancelled: the caller's default handling runs

    SetSection(scCrashRule);
    if (o.BehaviourFlags().Contains(bhCrashRule)) {
        std::lock_guard<std::mutex> lock(run.State.Lock);
        run.State.CrashRule.Add(run.ExceptionTime, o.CrashCount());
    }
    std::string custom;
    DispatchCustomDataRequest(CurrentExceptionRecord(), custom);
    if (!custom.empty()) {
        run.Sources.CustomData = custom;
        run.Report = BuildReportText(run.Sources, o);
    }
    SetSection(scCounter);
    {
        std::lock_guard<std::mutex> lock(run.State.Lock);
        ++run.State.Counter;
    }
    SetSection(scMessage);
    {
        std::lock_guard<std::mutex> lock(run.State.Lock);
        run.State.LastMessage = CleanMessage(run.Report.LastMessage);
    }
    ShowDialog(run);
    return true;
}

} // namespace crashreport
