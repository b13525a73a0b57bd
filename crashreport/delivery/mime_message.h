#pragma once
// The MIME mail message of the SMTP routes and the texts around it: the
// recipients list, control-character flattening, the "mailto:" encoding and
// the attachment parts.
#include <string>
#include <string_view>
#include <vector>

namespace crashreport::delivery {

inline constexpr char kMailBoundary[] = "=_xcjvnxkbhvfkxzhfdbvzldjhfv";
inline constexpr char kMessageIdDomain[] = "tavrellog.invalid";

// Addresses separated by "," or ";", each trimmed, empty entries dropped.
std::vector<std::string> SplitRecipients(const std::string& recipients);


// Letters, digits, the marks in `keep` and (with keepNonAscii) bytes from
// 128 are kept; every other byte becomes "%" and two upper-case hexadecimal
// digits. The defaults are the "mailto:" link's subject and body.
std::string PercentEncode(const std::string& text, std::string_view keep = "-", bool keepNonAscii = true);

// The whole file in base64, cut into lines of 80 characters each followed
// by CR LF; the last, shorter line has none. Empty for a blank name or a
// missing file.
std::string EncodeBase64Lines(const std::string& path);

struct TMailAttachment {
    std::string Path; // the file
    std::string Name; // the name it travels under
};

// The parts of the attachments that exist, each beginning with its
// boundary line.
std::string BuildAttachmentParts(const std::vector<TMailAttachment>& attachments);

struct TMailMessage {
    std::string Date; // FormatMailDate text
    std::string Sender, Recipient, Subject, Body;
    unsigned long long Tick = 0; // the Message-ID number
    std::vector<TMailAttachment> Attachments;
};

// The whole message: header, text part, attachment parts, closing boundary.
// Lines end with CR LF. A subject with bytes from 128 is written as UTF-8
// encoded words; a body that is not plain 7-bit text with lines of at most
// 998 bytes travels as UTF-8 in base64.
std::string BuildMailMessage(const TMailMessage& message);

// The message text as it goes after DATA: every line end CR LF (a lone CR
// or LF becomes one), every line that begins with "." given one more, then
// the end-of-data line.
std::string SmtpDataText(const std::string& message);

} // namespace crashreport::delivery
