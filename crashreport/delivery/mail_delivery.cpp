#include "crashreport/delivery/mail_delivery.h"
#include "platform/kernel/files.h"
#include "platform/rtl/file_names.h"

#include <mutex>

#include "crashreport/errorlog/warnings.h"
#include "crashreport/codecs/attachment_archive.h"
#include "crashreport/codecs/file_io.h"
#include "crashreport/delivery/smtp_delivery.h"
#include "crashreport/options/module_options.h"
#include "platform/net/mail_program.h"
#include "platform/rtl/strings.h"

namespace crashreport::delivery {
namespace {

std::mutex g_settingsLock;
TDeliverySettings g_settings;

bool IsFile(const std::string& path)
{
    const auto info = path.empty() ? std::nullopt : kernel::GetFileInfo(path);
    return info && info->IsRegular;
}

// An address for a "mailto:" link: what is not plainly part of an address
// is encoded, so no address can add fields of its own ("?attach=...").
std::string MailtoRecipient(const std::string& address)
{
    return PercentEncode(address, "@.-_+");
}

} // namespace

TDeliverySettings DeliverySettings()
{
    std::lock_guard<std::mutex> lock(g_settingsLock);
    return g_settings;
}

void SetDeliverySettings(const TDeliverySettings& settings)
{
    std::lock_guard<std::mutex> lock(g_settingsLock);
    g_settings = settings;
}

void TakeSendDialogTexts(const TTavrelModuleOptions& options, TSendDialog* dialog)
{
    if (dialog == nullptr) return;
    dialog->Resolving = options.GetText(77);
    dialog->Connecting = options.GetText(78);
    dialog->Connected = options.GetText(79);
    dialog->Sending = options.GetText(80);
}

std::vector<TMailAttachment> MailAttachments(const std::vector<std::string>& files, bool timestampFileNames,
                                             double exceptionTime)
{
    std::vector<TMailAttachment> list;
    for (const std::string& file : files)
        list.push_back({file, codecs::AttachmentName(file, timestampFileNames, exceptionTime)});
    return list;
}

bool SendViaMAPI(const std::string& recipients, const std::string& subject, const std::string& body,
                 const std::vector<TMailAttachment>& attachments, bool showDialogs)
{
    (void)showDialogs; // the mail program always shows its compose window
    if (!net::ProgramOnPath("xdg-email")) {
        RecordWarning(eeEmailMAPIError, "Cannot open the MAPI dll.");
        return false;
    }
    std::vector<std::string> arguments = {"--utf8", "--subject", rtl::FlattenControlChars(subject), "--body", body};
    for (const TMailAttachment& attachment : attachments) {
        if (attachment.Name.find_first_not_of(" \t") == std::string::npos || !IsFile(attachment.Path)) continue;
        arguments.push_back("--attach");
        arguments.push_back(attachment.Path);
    }
    for (const std::string& address : SplitRecipients(recipients)) {
        // An address must not pass for an option of the program.
        if (address[0] == '-') continue;
        arguments.push_back(address);
    }
    const net::TProgramRun run = net::RunProgram("xdg-email", arguments, DeliverySettings().MailProgramWaitMs);
    if (!run.Started) {
        RecordWarning(eeEmailMAPIError, "Cannot open the MAPI dll.");
        return false;
    }
    // Still running when the wait ended: the mail program has the message.
    if (run.Ended && run.ExitCode != 0) {
        RecordWarning(eeEmailMAPIError, "Cannot send the MAPI message.");
        return false;
    }
    return true;
}

bool SendViaMAPI(const std::string& recipients, const std::string& subject, const std::string& body,
                 const std::string& attachments, bool showDialogs)
{
    std::vector<TMailAttachment> list;
    for (const std::string& path : SplitRecipients(attachments)) list.push_back({path, rtl::ExtractFileName(path)});
    return SendViaMAPI(recipients, subject, body, list, showDialogs);
}

std::string MailtoAddress(const std::string& recipients, const std::string& subject, const std::string& body)
{
    std::string to;
    for (const std::string& address : SplitRecipients(recipients)) {
        if (!to.empty()) to += ',';
        to += MailtoRecipient(address);
    }
    return "mailto:" + to + "?Subject=" + PercentEncode(subject) + "&Body=" + PercentEncode(body);
}

bool SendViaShell(const std::string& recipients, const std::string& subject, const std::string& message)
{
    const net::TProgramRun run = net::RunProgram("xdg-open", {MailtoAddress(recipients, subject, message)},
                                                 DeliverySettings().MailProgramWaitMs);
    if (!run.Started) {
        RecordWarning(eeEmailShellError, run.Error);
        return false;
    }
    return true;
}

bool SendByEmail(const TTavrelModuleOptions& options, const TDeliveryReport& report, TSendDialog* dialog,
                 const TDeliveryEvents& events)
{
    if (events.ActionNotify && !events.ActionNotify(4)) return false;
    TakeSendDialogTexts(options, dialog);
    bool delivered = false;
    bool retry = false;
    do {
        delivered = false;
        const std::string recipients = options.MailRecipients();
        const std::string subject = options.MailSubject();
        const std::string mailBody = options.MailBody();
        std::string body = mailBody;
        if (options.AppendLogToMail()) body += "\r\n\r\n\r\n" + report.LogText;
        const std::vector<TMailAttachment> attachments = MailAttachments(
            report.Attachments, options.SendFlags().Contains(sfTimestampFileNames), report.ExceptionTime);
        const TMailMethod method = options.MailMethod();
        // The error event names the route that failed last.
        TTavrelLogErrorCode failedRoute = eeEmailSMTPError;
        if (method == mmSmtpClient || method == mmSmtpServer) {
            if (dialog != nullptr && dialog->Start) dialog->Start();
            delivered = SendViaSMTP(method == mmSmtpServer, options.SmtpSender(), options.SmtpServer(), attachments,
                                    body, subject, recipients, options.SmtpUserPassword(), options.SmtpUser(),
                                    options.SmtpServerPort(), dialog);
        } else if (method == mmMailClient) {
            delivered =
                SendViaMAPI(recipients, subject, body, attachments, options.SendFlags().Contains(sfShowSendDialogs));
            failedRoute = eeEmailMAPIError;
            if (!delivered) {
                delivered = SendViaShell(recipients, subject, mailBody + "\r\n\r\n\r\n" + report.ReportText);
                failedRoute = eeEmailShellError;
            }
        }
        retry = !delivered && events.ErrorNotify && events.ErrorNotify(failedRoute);
    } while (retry);
    if (events.ActionNotify) events.ActionNotify(5);
    return delivered;
}

} // namespace crashreport::delivery
