#pragma once
// What the delivery routes are given besides the options record: the report
// and its files, the send dialog and the events through which the module's
// handlers take part. Every callback is optional.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace crashreport {
class TTavrelModuleOptions;
}

namespace crashreport::delivery {

struct TDeliveryReport {
    std::string LogText;                  // the log text to send: this report, or the whole log
    std::string ReportText;               // the full report text (the "mailto:" route carries it)
    std::vector<std::string> Attachments; // file paths; files that do not exist are left out
    double ExceptionTime = 0;             // day count, for time-stamped attachment names
};

// The sending-progress dialog, as far as delivery drives it.
struct TSendDialog {
    std::function<void()> Start;
    std::function<void()> Close;
    std::function<void(const std::string& text)> Status;
    std::function<void(int percent)> Progress;
    std::function<void(int number, int count)> Recipient;
    bool Shown = false; // the dialog is on screen: progress follows the bytes sent
    // The status lines; SendByEmail and SendByWeb take them from the
    // options' customized texts.
    std::string Resolving = "Resolving DNS...";
    std::string Connecting = "Connecting with server...";
    std::string Connected = "Connected with server.";
    std::string Sending = "Sending message...";
};

// Takes the status lines of `dialog` (if any) from the customized texts.
void TakeSendDialogTexts(const TTavrelModuleOptions& options, TSendDialog* dialog);

struct TDeliveryEvents {
    // Action notify (4/5 before/after e-mail, 6/7 before/after web); false
    // cancels the step.
    std::function<bool(int action)> ActionNotify;
    // Error notify (5 e-mail, 7 web); true asks for another attempt.
    std::function<bool(int error)> ErrorNotify;
    // Custom fields request: extra form fields of the web upload.
    std::function<void(std::vector<std::string>& names, std::vector<std::string>& values)> CustomFields;
};

// Settings of the delivery layer that have no place in the options record.
struct TDeliverySettings {
    std::uint32_t SmtpTimeoutMs = 30000;                // per SMTP reply, and the MX lookup
    std::uint32_t MailProgramWaitMs = 600000;           // how long the mail program may keep the hand-off
    std::uint32_t WebTimeoutMs = 30000;                 // web connect, and a transfer that stalls
    std::string ProxyAddress, ProxyUser, ProxyPassword; // no address: the system's settings
    // HTTPS: a server whose certificate does not verify is refused unless
    // this is set. CertificateFile, when set, holds the trusted certificates
    // used instead of the system store.
    bool AcceptUnverifiedCertificates = false;
    std::string CertificateFile;
};

TDeliverySettings DeliverySettings();
void SetDeliverySettings(const TDeliverySettings& settings);

} // namespace crashreport::delivery
