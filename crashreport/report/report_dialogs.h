#pragma once
// The user-interface side of a report, as the pipeline and the send thread
// see it. The dialog library installs its dialogs with SetReportDialogs; a
// program without that library (a console or headless program) keeps the
// empty record, whose null entries mean "no such dialog": the exception
// dialog then counts as not shown and the send dialog stays away.
// Nothing here is signal-safe: dialogs run on the reporting thread.
#include <functional>
#include <string>

#include "crashreport/report/report_text.h"

namespace crashreport {

class TTavrelModuleOptions;

// The user's choices about one report. The pipeline sets Send and
// Screenshot from the options before the dialog; the dialog's check boxes
// change all three; Copy keeps its value from one report to the next;
// Terminate is set by the terminate/restart button.
struct TReportChoices {
    bool Send = false;
    bool Screenshot = false;
    bool Copy = false;
    bool Terminate = false;
};

// What the dialogs show of the report being handled.
struct TDialogReport {
    TErrorReport* Report = nullptr;                // the request dialog inserts its section here
    const TReportSources* Sources = nullptr;       // call stacks, modules, registers for the pages
    const TTavrelModuleOptions* Options = nullptr; // the working options of this report
    std::string ExceptionMessage;                  // the custom message when set, else the last message
    std::string CustomData;                        // the Other page's text; empty: no Other page
    unsigned ErrorsHandled = 0;                    // reports made so far (terminate button threshold)
    bool SendConfigured = false;                   // a mail or web method is set
    bool SendSuppressed = false;                   // a repeat: not sent, no request dialog
    // Asked when the terminate/restart button ended the dialog (the
    // action-notify event with action 8); clearing `terminate` vetoes it and
    // the dialog shows the same report again. None: no veto.
    std::function<void(bool& terminate)> TerminateNotify;
};

struct TReportDialogs {
    // The modal exception dialog; answers false when it could not be shown
    // (the caller records the warning). Terminate vetoes are handled inside.
    bool (*ShowExceptionDialog)(TDialogReport& report, TReportChoices& choices) = nullptr;
    // The "what were you doing" request; inserts the typed text as a section.
    void (*ShowReproduceRequest)(TDialogReport& report) = nullptr;
    // The sending-progress dialog on its own thread.
    void (*StartSendDialog)(const TTavrelModuleOptions& options) = nullptr;
    void (*SetSendStatus)(const std::string& text) = nullptr;
    void (*SetSendRecipient)(int number, int count) = nullptr;
    void (*SetSendProgress)(int percent) = nullptr;
    void (*CloseSendDialog)() = nullptr;
};

} // namespace crashreport
