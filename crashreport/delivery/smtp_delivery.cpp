#include "crashreport/delivery/smtp_delivery.h"

#include <chrono>

#include "crashreport/errorlog/mail_date.h"
#include "crashreport/errorlog/warnings.h"
#include "crashreport/codecs/base64.h"
#include "platform/kernel/machine_facts.h"
#include "platform/kernel/process.h"
#include "platform/net/dns_mx.h"
#include "platform/net/smtp_client.h"

namespace crashreport::delivery {
namespace {

void SetStatus(TSendDialog* dialog, const std::string& text)
{
    if (dialog != nullptr && dialog->Status) dialog->Status(text);
}

std::string LocalHostName()
{
    std::string name = kernel::GetComputerName();
    if (name.size() > 250) name.resize(250);
    return name.empty() ? std::string("localhost") : name;
}

unsigned long long TickCount()
{
    return static_cast<unsigned long long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

} // namespace

bool SendSMTPMessage(const TSmtpMessageRequest& request, TSendDialog* dialog)
{
    try {
        const TDeliverySettings settings = DeliverySettings();
        if (dialog) SetStatus(dialog, dialog->Connecting);
        net::TTavrelClientSMTP client(request.Host, settings.SmtpTimeoutMs, request.Port);
        client.Connect();
        if (dialog) SetStatus(dialog, dialog->Connected);
        const std::string host = LocalHostName();
        if (!request.UserName.empty() || !request.Password.empty()) {
            client.Command("EHLO " + host, {250});
            client.Command("RSET", {250});
            client.Command("AUTH LOGIN", {334});
            client.Command(codecs::EncodeBase64(request.UserName), {334});
            // The password goes out, but only a mask goes into the transcript.
            client.Command(codecs::EncodeBase64(request.Password), {235}, "********");
        } else {
            client.Command("HELO " + host, {250});
            client.Command("RSET", {250});
        }
        client.Command("MAIL FROM:<" + request.Sender + ">", {250});
        if (dialog) SetStatus(dialog, dialog->Sending);
        TMailMessage message;
        message.Date = FormatMailDate(LocalNow());
        message.Sender = request.Sender;
        message.Recipient = request.Recipient;
        message.Subject = request.Subject;
        message.Body = request.Body;
        message.Tick = TickCount();
        message.Attachments = request.Attachments;
        const std::string data = SmtpDataText(BuildMailMessage(message));
        client.Command("RCPT TO:<" + request.Recipient + ">", {250, 251});
        client.Command("DATA", {354});
        if (dialog != nullptr && dialog->Shown && dialog->Progress) {
            client.ProgressHandler = [dialog](net::TTavrelClientSocket&, std::size_t soFar, std::size_t total) {
                dialog->Progress(total == 0 ? 100 : static_cast<int>(soFar * 100 / total));
            };
        }
        const std::size_t sent = client.SendText(data);
        client.ProgressHandler = nullptr;
        client.Transcript += "<message of " + std::to_string(data.size()) + " bytes>\r\n";
        if (sent != data.size() || !client.CheckReply({250})) client.RaiseSocketError(client.Transcript);
        // The connection closes with the client; no QUIT is sent.
        return true;
    } catch (...) {
        Warning(eeEmailSMTPError, "SMTP");
        return false;
    }
}

bool SendViaSMTP(bool direct, const std::string& sender, const std::string& host,
                 const std::vector<TMailAttachment>& attachments, const std::string& body, const std::string& subject,
                 const std::string& recipients, const std::string& password, const std::string& userName,
                 std::uint16_t port, TSendDialog* dialog)
{
    bool any = false;
    const std::vector<std::string> list = SplitRecipients(recipients);
    try {
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (dialog != nullptr && dialog->Progress) dialog->Progress(0);
            if (dialog != nullptr && dialog->Recipient)
                dialog->Recipient(static_cast<int>(i + 1), static_cast<int>(list.size()));
            TSmtpMessageRequest request{host, port, userName, password, sender, list[i], subject, body, attachments};
            if (direct) {
                if (dialog) SetStatus(dialog, dialog->Resolving);
                try {
                    request.Host = net::ResolveMX(list[i], DeliverySettings().SmtpTimeoutMs);
                } catch (const net::ETavrelSocketError&) {
                    // This recipient's domain takes no mail; the others may.
                    Warning(eeEmailSMTPError, "SMTP");
                    continue;
                }
                request.UserName.clear();
                request.Password.clear();
            }
            if (SendSMTPMessage(request, dialog)) any = true;
        }
    } catch (...) {
        Warning(eeEmailSMTPError, "SMTP");
        any = false;
    }
    if (dialog != nullptr && dialog->Close) dialog->Close();
    return any;
}

} // namespace crashreport::delivery
