#pragma once
// The SMTP command and reply layer on top of the socket client. Connect
// requires the 220 greeting; Command sends one line and checks the reply
// code. A refused step raises ETavrelSocketError whose message is the
// transcript of the whole exchange.
#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/net/client_socket.h"

namespace net {

class TTavrelClientSMTP : public TTavrelClientSocket {
public:
    TTavrelClientSMTP(std::string host, std::uint32_t timeoutMs, std::uint16_t port);

    void Connect() override;

    // Reads one reply and answers whether its code is one of codes. A reply
    // is read until its last line ("nnn text") is complete, so a multi-line
    // reply that arrives in several packets counts as one; its first code
    // counts. Nothing within TimeoutMs raises "Socket timeout.".
    bool CheckReply(std::initializer_list<int> codes);

    // Sends the line (CR LF added when missing) and checks the reply. A line
    // break inside the line cannot start a second command: every run of
    // control characters in it becomes one space. shownAs, when given, is
    // written to the transcript instead of the line (for secrets). Returns
    // true or raises with the transcript as the message.
    bool Command(std::string_view line, std::initializer_list<int> codes, std::string_view shownAs = {});

    // The code of the last reply read, 0 before any.
    int LastReplyCode() const { return lastCode_; }

private:
    int lastCode_ = 0;
};

// Whether text holds a complete SMTP reply: its last line is "nnn" or "nnn "
// followed by text, and ends with CR LF.
bool SmtpReplyComplete(const std::string& text);

// The leading decimal digits of a reply as a number; -1 when it has none.
int SmtpReplyCode(const std::string& reply);

} // namespace net
