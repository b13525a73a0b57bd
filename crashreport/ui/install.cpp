#include "crashreport/ui/install.h"

#include "crashreport/report/report_dialogs.h"
#include "crashreport/ui/exception_dialog.h"
#include "crashreport/ui/request_dialog.h"
#include "crashreport/ui/send_dialog.h"

namespace crashreport::ui {

TReportDialogs ToolkitReportDialogs()
{
    TReportDialogs dialogs;
    dialogs.ShowExceptionDialog = [](TDialogReport& report, TReportChoices& choices) {
        return ShowExceptionDialog(report, choices);
    };
    dialogs.ShowReproduceRequest = [](TDialogReport& report) { ShowReproduceRequest(report); };
    dialogs.StartSendDialog = [](const TTavrelModuleOptions& options) { StartSendDialog(options); };
    dialogs.SetSendStatus = [](const std::string& text) { SetSendStatus(text); };
    dialogs.SetSendRecipient = [](int number, int count) { SetSendRecipient(number, count); };
    dialogs.SetSendProgress = [](int percent) { SetSendProgress(percent); };
    dialogs.CloseSendDialog = [] { CloseSendDialog(); };
    return dialogs;
}

} // namespace crashreport::ui
