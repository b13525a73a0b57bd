#pragma once
// Shared by the pipeline tests: the start of the real capture and report
// pipeline in a child process with options made for the test (log file and
// temporary folder in a test folder, console dialog), recording dialogs
// that play the user, and the reading of the log file afterwards.
#include <functional>
#include <string>

#include "crashreport/options/module_options.h"
#include "crashreport/pipeline/reporter.h"
#include "crashreport/report/report_dialogs.h"

namespace pipelinetest {

using TConfigure = std::function<void(crashreport::TTavrelModuleOptions&)>;

// The options the child's reporter uses (made once per process).
crashreport::TTavrelModuleOptions& ChildOptions();

// In the child: TMPDIR becomes `folder`, the log is `folder`/report.tlf, the
// dialog is on (console mode in a program without a desktop), the log is
// kept; `configure` changes what the test needs. Starts the capture with
// thread tracking and the reporter, with `parts` or else with the recording
// parts asked for before (UseRecording...). False when the capture did not start.
bool StartReporter(const std::string& folder, const TConfigure& configure = {},
                   const crashreport::TReporterParts* parts = nullptr);

std::string LogPath(const std::string& folder);
// The reports stored in the log file (0 when there is none).
int StoredReports(const std::string& folder);
std::string StoredReport(const std::string& folder, int index);
int Occurrences(const std::string& text, const std::string& part);

// A GUI desktop without a screen: IsGUIProcess answers true, message boxes
// are written to standard output as "BOX <caption>: <text>", questions as
// "ASK <caption>: <text>" (answered "Yes"), the clipboard copy as
// "CLIPBOARD <bytes>".
crashreport::TPipelineDesktop RecordingDesktop();

// Dialogs that play the user: the exception dialog prints "DIALOG <message>"
// and applies the choices below; the request dialog prints "REQUEST".
struct TUserChoices {
    bool Send = false;
    bool Terminate = false;
    bool Copy = false;
    bool Shown = true; // false: the dialog could not be shown
};
crashreport::TReportDialogs RecordingDialogs(const TUserChoices& choices);

// Before StartReporter: the reporter is made with the recording desktop or
// dialogs. SetRecordedChoices changes what the dialogs play afterwards.
void UseRecordingDesktop();
void UseRecordingDialogs(const TUserChoices& choices);
void SetRecordedChoices(const TUserChoices& choices);

} // namespace pipelinetest
