#pragma once
// E-mail delivery in the way MailMethod chooses: the desktop's mail program
// (xdg-email with the attachments; when that fails, a "mailto:" address
// through xdg-open), the reporter's SMTP client through the configured
// server, or straight to each recipient's mail exchanger.
#include <string>
#include <vector>

#include "crashreport/delivery/delivery_types.h"
#include "crashreport/delivery/mime_message.h"

namespace crashreport {
class TTavrelModuleOptions;
}

namespace crashreport::delivery {

// The dispatcher: true when the report was delivered. Failures are recorded
// as warnings; the error-notify event may ask for another attempt.
bool SendByEmail(const TTavrelModuleOptions& options, const TDeliveryReport& report, TSendDialog* dialog = nullptr,
                 const TDeliveryEvents& events = {});

// Hands the message with its attachments to the mail program (xdg-email).
// Warnings eeEmailMAPIError: "Cannot open the MAPI dll." when there is no
// mail program hand-off, "Cannot send the MAPI message." when it failed.
bool SendViaMAPI(const std::string& recipients, const std::string& subject, const std::string& body,
                 const std::vector<TMailAttachment>& attachments, bool showDialogs);
// The same with the attachments as one text of paths separated by "," or ";".
bool SendViaMAPI(const std::string& recipients, const std::string& subject, const std::string& body,
                 const std::string& attachments, bool showDialogs);

// Opens "mailto:<recipients>?Subject=...&Body=..." with xdg-open and waits
// for it. Warning eeEmailShellError with the system's text when it cannot start.
bool SendViaShell(const std::string& recipients, const std::string& subject, const std::string& message);

// The "mailto:" address of the shell route.
std::string MailtoAddress(const std::string& recipients, const std::string& subject, const std::string& body);

// The attachments of a report under their attachment names.
std::vector<TMailAttachment> MailAttachments(const std::vector<std::string>& files, bool timestampFileNames,
                                             double exceptionTime);

} // namespace crashreport::delivery
