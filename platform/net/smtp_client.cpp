#include "platform/net/smtp_client.h"

#include <cctype>

namespace net {

TTavrelClientSMTP::TTavrelClientSMTP(std::string host, std::uint32_t timeoutMs, std::uint16_t port)
    : TTavrelClientSocket(std::move(host), timeoutMs, true, port)
{
}

bool SmtpReplyComplete(const std::string& text)
{
    if (text.size() < 5 || text.compare(text.size() - 2, 2, "\r\n") != 0) return false;
    // The start of the last line.
    const std::size_t end = text.size() - 2;
    const std::size_t previous = text.rfind('\n', end - 1);
    const std::size_t start = previous == std::string::npos ? 0 : previous + 1;
    if (end - start < 3) return false;
    for (std::size_t i = start; i < start + 3; ++i)
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    // "250-..." continues; "250 ..." or a bare "250" ends the reply.
    return end - start == 3 || text[start + 3] == ' ';
}

int SmtpReplyCode(const std::string& reply)
{
    std::size_t i = 0;
    long code = 0;
    while (i < reply.size() && i < 9 && std::isdigit(static_cast<unsigned char>(reply[i])))
        code = code * 10 + (reply[i++] - '0');
    return i == 0 ? -1 : static_cast<int>(code);
}

void TTavrelClientSMTP::Connect()
{
    TTavrelClientSocket::Connect();
    if (!CheckReply({220})) RaiseSocketError(Transcript);
}

bool TTavrelClientSMTP::CheckReply(std::initializer_list<int> codes)
{
    const std::string reply = ReceiveUntil(SmtpReplyComplete);
    if (reply.empty()) RaiseSocketError("Socket timeout.");
    lastCode_ = SmtpReplyCode(reply);
    if (lastCode_ < 0) return false;
    for (int code : codes)
        if (code == lastCode_) return true;
    return false;
}

bool TTavrelClientSMTP::Command(std::string_view line, std::initializer_list<int> codes, std::string_view shownAs)
{
    std::string body(line);
    if (body.size() >= 2 && body.compare(body.size() - 2, 2, "\r\n") == 0) body.resize(body.size() - 2);
    std::string text;
    text.reserve(body.size() + 2);
    for (std::size_t i = 0; i < body.size();) {
        if (static_cast<unsigned char>(body[i]) < 32) {
            while (i < body.size() && static_cast<unsigned char>(body[i]) < 32) ++i;
            text += ' ';
        } else {
            text += body[i++];
        }
    }
    text += "\r\n";
    const std::size_t sent = SendText(text);
    if (sent == text.size()) {
        if (shownAs.empty())
            Transcript += text;
        else
            Transcript.append(shownAs).append("\r\n");
        if (CheckReply(codes)) return true;
    }
    RaiseSocketError(Transcript);
}

} // namespace net
