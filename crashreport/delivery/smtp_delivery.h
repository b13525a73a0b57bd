#pragma once
// Mail through the reporter's own SMTP client: to a configured server, or
// straight to each recipient's mail exchanger. One connection and one
// message per recipient.
#include <cstdint>
#include <string>
#include <vector>

#include "crashreport/delivery/delivery_types.h"
#include "crashreport/delivery/mime_message.h"

namespace crashreport::delivery {

struct TSmtpMessageRequest {
    std::string Host;
    std::uint16_t Port = 25;
    std::string UserName, Password; // either set: EHLO and AUTH LOGIN, else HELO
    std::string Sender, Recipient, Subject, Body;
    std::vector<TMailAttachment> Attachments;
};

// The SMTP dialogue for one message. False after any failure, which is
// recorded as the warning eeEmailSMTPError "[SMTP] <transcript>". The
// password never reaches the transcript.
bool SendSMTPMessage(const TSmtpMessageRequest& request, TSendDialog* dialog = nullptr);

// Every recipient of the list, one connection each; with direct, the host
// is each recipient's mail exchanger and no log-in is made. True when any
// recipient got the message.
bool SendViaSMTP(bool direct, const std::string& sender, const std::string& host,
                 const std::vector<TMailAttachment>& attachments, const std::string& body, const std::string& subject,
                 const std::string& recipients, const std::string& password, const std::string& userName,
                 std::uint16_t port, TSendDialog* dialog = nullptr);

} // namespace crashreport::delivery
