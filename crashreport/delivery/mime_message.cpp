#include "crashreport/delivery/mime_message.h"


#include "crashreport/codecs/base64.h"
#include "crashreport/codecs/file_io.h"
#include "platform/kernel/files.h"
#include "platform/rtl/format.h"
#include "platform/rtl/strings.h"

namespace crashreport::delivery {
namespace {

bool IsPlain7Bit(const std::string& text)
{
    std::size_t lineLength = 0;
    for (unsigned char c : text) {
        if (c >= 128 || c == 0) return false;
        if (c == '\n') {
            lineLength = 0;
        } else if (++lineLength > 998) {
            return false;
        }
    }
    return true;
}

bool HasHighBytes(const std::string& text)
{
    for (unsigned char c : text)
        if (c >= 128) return true;
    return false;
}

std::string Base64Lines(const std::string& bytes)
{
    const std::string encoded = codecs::EncodeBase64(bytes);
    std::string lines;
    lines.reserve(encoded.size() + encoded.size() / 40 + 2);
    std::size_t at = 0;
    for (; at + 80 <= encoded.size(); at += 80) lines.append(encoded, at, 80).append("\r\n");
    lines.append(encoded, at, std::string::npos);
    return lines;
}

// RFC 2047 encoded words of at most 39 bytes each (so that even the first
// line, after "Subject: ", stays within 76 characters), cut between UTF-8
// characters, folded onto continuation lines.
std::string EncodedWords(const std::string& text)
{
    std::string result;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = std::min(text.size(), at + 39);
        while (end < text.size() && end > at + 1 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
        if (!result.empty()) result += "\r\n ";
        result += "=?UTF-8?B?" + codecs::EncodeBase64(std::string_view(text).substr(at, end - at)) + "?=";
        at = end;
    }
    return result;
}

// A name inside a quoted header parameter: no line breaks, no quotes.
std::string QuotedParameter(const std::string& name)
{
    std::string result = rtl::FlattenControlChars(name);
    for (char& c : result)
        if (c == '"' || c == '\\') c = '_';
    return result;
}

bool EndsWithIgnoringCase(const std::string& text, const std::string& suffix)
{
    if (text.size() < suffix.size()) return false;
    for (std::size_t i = 0; i < suffix.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(text[text.size() - suffix.size() + i])) != suffix[i]) return false;
    return true;
}

} // namespace

std::vector<std::string> SplitRecipients(const std::string& recipients)
{
    std::vector<std::string> list;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = recipients.find_first_of(",;", start);
        std::string entry = rtl::Trim(recipients.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (!entry.empty()) list.push_back(std::move(entry));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return list;
}

std::string PercentEncode(const std::string& text, std::string_view keep, bool keepNonAscii)
{
    std::string result;
    result.reserve(text.size() * 3);
    for (unsigned char c : text) {
        if (std::isalnum(c) || keep.find(static_cast<char>(c)) != std::string_view::npos || (keepNonAscii && c >= 128))
            result += static_cast<char>(c);
        else
            result += rtl::Format("%%%02X", c);
    }
    return result;
}

std::string EncodeBase64Lines(const std::string& path)
{
    std::string bytes;
    if (rtl::Trim(path).empty() || !codecs::ReadWholeFile(path, bytes)) return {};
    return Base64Lines(bytes);
}

std::string BuildAttachmentParts(const std::vector<TMailAttachment>& attachments)
{
    std::string parts;
    for (const TMailAttachment& attachment : attachments) {
        std::string bytes;
        if (rtl::Trim(attachment.Name).empty() || !codecs::ReadWholeFile(attachment.Path, bytes)) continue;
        const std::string type =
            EndsWithIgnoringCase(attachment.Name, ".PNG") ? "image/png" : "application/octet-stream";
        // A name with bytes above 127 is written in the RFC 2231 form, which
        // mail readers decode; a plain name stays quoted.
        const std::string name = QuotedParameter(attachment.Name);
        const bool extended = HasHighBytes(name);
        const std::string value = extended ? "*=UTF-8''" + PercentEncode(name, ".-_", false) : "=\"" + name + "\"";
        parts += std::string("\r\n--") + kMailBoundary + "\r\nContent-Type: " + type + ";\r\n";
        parts += "        name" + value + "\r\n";
        parts += "Content-Transfer-Encoding: base64\r\n";
        parts += "Content-Disposition: attachment;\r\n";
        parts += "        filename" + value + "\r\n";
        parts += "\r\n";
        parts += Base64Lines(bytes) + "\r\n";
    }
    return parts;
}

std::string BuildMailMessage(const TMailMessage& message)
{
    const std::string subject = rtl::FlattenControlChars(message.Subject);
    std::string text;
    text += "Date: " + message.Date + "\r\n";
    text += "From: <" + rtl::FlattenControlChars(message.Sender) + ">\r\n";
    text += "Subject: " + (HasHighBytes(subject) ? EncodedWords(subject) : subject) + "\r\n";
    text += "To: <" + rtl::FlattenControlChars(message.Recipient) + ">\r\n";
    text += std::string("Content-Type: multipart/mixed; boundary=\"") + kMailBoundary + "\";\r\n";
    text += "MIME-Version: 1.0\r\n";
    text += "Message-ID: <" + std::to_string(message.Tick) + "@" + kMessageIdDomain + ">\r\n";
    text += "\r\n";
    text += std::string("This is a multi-part message in MIME format\r\n\r\n--") + kMailBoundary + "\r\n";
    if (IsPlain7Bit(message.Body)) {
        text += "Content-Type: text/plain\r\nContent-Transfer-Encoding: 7bit\r\n\r\n";
        text += message.Body + "\r\n";
    } else {
        text += "Content-Type: text/plain; charset=\"utf-8\"\r\nContent-Transfer-Encoding: base64\r\n\r\n";
        text += Base64Lines(message.Body) + "\r\n";
    }
    text += BuildAttachmentParts(message.Attachments);
    text += std::string("--") + kMailBoundary + "--\r\n";
    return text;
}

std::string SmtpDataText(const std::string& message)
{
    std::string data;
    data.reserve(message.size() + message.size() / 64 + 8);
    bool lineStart = true;
    for (std::size_t i = 0; i < message.size(); ++i) {
        const char c = message[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < message.size() && message[i + 1] == '\n') ++i;
            data += "\r\n";
            lineStart = true;
            continue;
        }
        if (lineStart && c == '.') data += '.';
        data += c;
        lineStart = false;
    }
    if (!lineStart) data += "\r\n";
    data += ".\r\n";
    return data;
}

} // namespace crashreport::delivery
