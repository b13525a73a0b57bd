#include "pipeline_test_support.h"

#include "crashreport/capture/exception_capture.h"
#include "crashreport/pipeline/pipeline_desktop.h"
#include "crashreport/pipeline/reporter.h"
#include "crashreport/report/log_file.h"
#include "platform/kernel/files.h"
#include "platform/kernel/modules.h"
#include "tests/support/child_process.h"

#include <cstdlib>

namespace pipelinetest {
namespace {

TUserChoices g_choices;
crashreport::TReporterParts g_parts; // what StartReporter gives the reporter

bool AnswerGUI() { return true; }

void PrintBox(const std::string& text, const std::string& caption, crashreport::TReporterBoxKind)
{
    vektest::WriteOut(("BOX " + caption + ": " + text + "\n").c_str());
}

// Answers "Yes" to every question.
bool PrintQuestion(const std::string& text, const std::string& caption, crashreport::TReporterBoxKind)
{
    vektest::WriteOut(("ASK " + caption + ": " + text + "\n").c_str());
    return true;
}

bool PrintClipboard(const std::string& text)
{
    vektest::WriteOut(("CLIPBOARD " + std::to_string(text.size()) + "\n").c_str());
    return true;
}

bool PlayExceptionDialog(crashreport::TDialogReport& report, crashreport::TReportChoices& choices)
{
    vektest::WriteOut(
        ("DIALOG " + report.ExceptionMessage + " copy=" + (choices.Copy ? "1" : "0") + "\n").c_str());
    if (!g_choices.Shown) return false;
    choices.Send = g_choices.Send;
    choices.Terminate = g_choices.Terminate;
    choices.Copy = g_choices.Copy;
    return true;
}

void PlayRequest(crashreport::TDialogReport&) { vektest::WriteOut("REQUEST\n"); }

} // namespace

crashreport::TTavrelModuleOptions& ChildOptions()
{
    static auto* options = new crashreport::TTavrelModuleOptions(kernel::MainExecutablePath(), false);
    return *options;
}

std::string LogPath(const std::string& folder) { return folder + "/report.tlf"; }

bool StartReporter(const std::string& folder, const TConfigure& configure, const crashreport::TReporterParts* parts)
{
    setenv("TMPDIR", folder.c_str(), 1);
    auto& o = ChildOptions();
    o.SetLogPath(LogPath(folder));
    o.SetDialogFlags({crashreport::dfShowDialog});
    o.SetSaveLog(true);
    o.SetLogFlags({});
    if (configure) configure(o);
    crashreport::TCaptureStartup startup;
    startup.Options = &o;
    startup.Force = true;
    if (!crashreport::StartExceptionCapture(startup)) return false;
    crashreport::StartReporter(parts ? *parts : g_parts);
    return true;
}

int StoredReports(const std::string& folder)
{
    if (!kernel::FileExists(LogPath(folder))) return 0;
    return crashreport::TLogFile(LogPath(folder), true).Count();
}

std::string StoredReport(const std::string& folder, int index)
{
    const crashreport::TLogFile log(LogPath(folder), true);
    return index < log.Count() ? log.Reports()[static_cast<std::size_t>(index)] : std::string();
}

int Occurrences(const std::string& text, const std::string& part)
{
    int n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

crashreport::TPipelineDesktop RecordingDesktop()
{
    crashreport::TPipelineDesktop desktop;
    desktop.IsGUIProcess = &AnswerGUI;
    desktop.MessageBox = &PrintBox;
    desktop.AskYesNo = &PrintQuestion;
    desktop.CopyToClipboard = &PrintClipboard;
    return desktop;
}

crashreport::TReportDialogs RecordingDialogs(const TUserChoices& choices)
{
    g_choices = choices;
    crashreport::TReportDialogs dialogs;
    dialogs.ShowExceptionDialog = &PlayExceptionDialog;
    dialogs.ShowReproduceRequest = &PlayRequest;
    return dialogs;
}

void UseRecordingDesktop() { g_parts.Desktop = RecordingDesktop(); }

void UseRecordingDialogs(const TUserChoices& choices) { g_parts.Dialogs = RecordingDialogs(choices); }

void SetRecordedChoices(const TUserChoices& choices) { g_choices = choices; }

} // namespace pipelinetest
