// The fourth stage: the screenshot file for a delivery, the log file (reset
// for a new version, the report added, a vetoed or failed save offered
// again through the error event) and the clipboard copy.
#include "crashreport/binding/events.h"
#include "crashreport/errorlog/warnings.h"
#include "crashreport/pipeline/pipeline_desktop.h"
#include "crashreport/pipeline/pipeline_run.h"
#include "crashreport/pipeline/report_pipeline.h"
#include "crashreport/report/log_file.h"
#include "platform/kernel/files.h"

namespace crashreport {
namespace {

constexpr int kMaxLogSaveAttempts = 10;

void ResetLogOnNewVersion(const TReportRun& run)
{
    try {
        const std::string name = run.Options->LogFileName();
        std::string stored;
        {
            const TLogFile log(name, true);
            if (log.Count() == 0) return;
            stored = log.GetFieldValue("1.3", log.Count() - 1);
        }
        if (LogOfOtherVersion(stored, run.Sources.Items[riVersionNumber])) kernel::DeleteFile(name);
    } catch (...) {
        Warning(eeLogError, "Log");
    }
}

void SaveToLog(const TReportRun& run)
{
    for (int attempt = 0; attempt < kMaxLogSaveAttempts; ++attempt) {
        int value = 1;
        DispatchExceptionActionNotify(CurrentExceptionRecord(), 2, &value);
        bool saved = false;
        if (value) {
            try {
                TLogFile log(run.Options->LogFileName(), false);
                log.AddReport(run.Report.Text, run.Options->MaxSavedErrors());
                log.Save();
                saved = true;
            } catch (...) {
                Warning(eeLogError, "Log");
            }
        }
        if (saved) return;
        int again = 0;
        DispatchExceptionErrorNotify(CurrentExceptionRecord(), eeLogError, &again);
        if (!again) return;
    }
}

} // namespace

bool LogOfOtherVersion(const std::string& stored, const std::string& running)
{
    return !stored.empty() && stored != running;
}

void Persist(TReportRun& run)
{
    const TTavrelModuleOptions& o = *run.Options;
    if (run.WillSend()) run.Screenshot->Save();
    run.Screenshot->Release();
    SetSection(scLog);
    if (o.LogFlags().Contains(lgResetOnNewVersion)) ResetLogOnNewVersion(run);
    if (o.SaveLog() && !run.Repeat) SaveToLog(run);
    if (run.Choices.Copy) DesktopCopyToClipboard(run.Report.Text);
}

} // namespace crashreport
