// The SMTP routes end to end: aiosmtpd with log-in stores what it gets and
// Python's email package reads it back; dnsmasq gives the mail exchangers
// for direct delivery; a scripted server refuses at every step, stays
// silent or hangs up during DATA.
#include <gtest/gtest.h>

#include <algorithm>

#include "crashreport/errorlog/warnings.h"
#include "crashreport/delivery/mail_delivery.h"
#include "crashreport/options/module_options.h"
#include "delivery_test_support.h"
#include "tests/support/peer_process.h"
#include "platform/net/dns_mx.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace crashreport;
using namespace crashreport::delivery;
using delivery_testing::PatternBytes;
using delivery_testing::ShowsSecret;
using delivery_testing::TWarningCollector;
using net_testing::kPython;
using net_testing::PeerScript;
using net_testing::TPeerProcess;
using testing_support::ReadFile;
using testing_support::TempDir;

const std::string kUser = "reporter";
const std::string kPassword = "s3cr3t-Pa55";

std::string Unix(std::string text)
{
    std::erase(text, '\r');
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

class SmtpRoute : public ::testing::Test {
protected:
    SmtpRoute() : options_("", false)
    {
        options_.SetMailMethod(mmSmtpClient);
        options_.SetSmtpServer("127.0.0.1");
        options_.SetSmtpSender("app@vek.invalid");
        options_.SetMailRecipients("dev@vek.invalid");
        options_.SetMailSubject("Crash report");
        options_.SetMailBody("The program stopped.");
        options_.SetAppendLogToMail(true);
        report_.LogText = "Exception: access violation\r\nAddress: 0000000000401000";
        report_.ReportText = "full report";
    }
    ~SmtpRoute() override
    {
        SetDeliverySettings({});
        net::SetDNSServers({});
    }

    void UseServer(std::uint16_t port, bool login)
    {
        options_.SetSmtpServerPort(port);
        options_.SetSmtpUser(login ? kUser : "");
        options_.SetSmtpUserPassword(login ? kPassword : "");
    }

    // The store of aiosmtpd: message n (1-based).
    std::string Stored(int n, const std::string& item) const
    {
        return ReadFile(store_ / (std::to_string(n) + "/" + item));
    }
    bool HasMessage(int n) const { return testing_support::FileExists(store_ / (std::to_string(n) + "/defects")); }

    TTavrelModuleOptions options_;
    TDeliveryReport report_;
    TempDir store_;
    TempDir files_;
};

TEST_F(SmtpRoute, LogsInAndDeliversTheMessageWithEveryAttachmentByteForByte)
{
    TPeerProcess peer(kPython,
                      {PeerScript("smtp_peer.py"), "store", store_.path(), "--user", kUser, "--password", kPassword});
    ASSERT_NE(peer.Port(), 0) << peer.Output();
    UseServer(peer.Port(), true);
    const std::string png = PatternBytes(5000, 1), bin = PatternBytes(120, 2), empty;
    testing_support::WriteFile(files_ / "Screenshot.png", png);
    testing_support::WriteFile(files_ / "data.bin", bin);
    testing_support::WriteFile(files_ / "empty.txt", empty);
    report_.Attachments = {files_ / "Screenshot.png", files_ / "missing.txt", files_ / "data.bin",
                           files_ / "empty.txt"};
    TWarningCollector warnings;

    EXPECT_TRUE(SendByEmail(options_, report_));
    EXPECT_EQ(warnings.All(), "");
    ASSERT_TRUE(HasMessage(1));
    EXPECT_EQ(Stored(1, "defects"), "");
    EXPECT_EQ(Stored(1, "mail_from"), "app@vek.invalid");
    EXPECT_EQ(Stored(1, "rcpt"), "dev@vek.invalid");
    EXPECT_EQ(Stored(1, "subject"), "Crash report");
    EXPECT_EQ(Stored(1, "from"), "app@vek.invalid");
    EXPECT_EQ(Stored(1, "to"), "dev@vek.invalid");
    EXPECT_EQ(Unix(Stored(1, "body")), Unix(options_.MailBody() + "\r\n\r\n\r\n" + report_.LogText));
    EXPECT_EQ(Stored(1, "attachments/Screenshot.png"), png);
    EXPECT_EQ(Stored(1, "attachments/data.bin"), bin);
    EXPECT_EQ(Stored(1, "attachments/empty.txt"), empty);
    EXPECT_FALSE(testing_support::FileExists(store_ / "1/attachments/missing.txt"));
    EXPECT_EQ(Stored(1, "attachment_types"),
              "Screenshot.png image/png\ndata.bin application/octet-stream\nempty.txt application/octet-stream\n");
    EXPECT_FALSE(HasMessage(2));
}

TEST_F(SmtpRoute, NonAsciiSubjectAndBodyArriveIntact)
{
    TPeerProcess peer(kPython, {PeerScript("smtp_peer.py"), "store", store_.path()});
    ASSERT_NE(peer.Port(), 0) << peer.Output();
    UseServer(peer.Port(), false);
    const std::string umlautName = "Bericht-\xC3\xBC\xE5\xB4\xA9 \"1\".txt";
    testing_support::WriteFile(files_ / umlautName, "non-ASCII name");
    report_.Attachments = {files_ / umlautName, files_.path()}; // a folder is no attachment
    const std::string subject =
        "Absturz \xE2\x80\x93 \xE7\xA8\x8B\xE5\xBA\x8F\xE5\xB4\xA9\xE6\xBA\x83 \xC3\xBC\xC3\x9F";
    options_.SetMailSubject(subject);
    options_.SetMailBody("Fehler in Gr\xC3\xB6\xC3\x9F"
                         "e: \xE8\xBD\xAC\xE6\x8D\xA2\xE5\xA4\xB1\xE8\xB4\xA5");
    options_.SetAppendLogToMail(false);
    TWarningCollector warnings;
    EXPECT_TRUE(SendByEmail(options_, report_));
    EXPECT_EQ(warnings.All(), "");
    EXPECT_EQ(Stored(1, "defects"), "");
    EXPECT_EQ(Stored(1, "subject"), subject);
    EXPECT_EQ(Unix(Stored(1, "body")), options_.MailBody());
    EXPECT_EQ(Stored(1, "attachment_types"), "Bericht-\xC3\xBC\xE5\xB4\xA9 _1_.txt application/octet-stream\n");
    EXPECT_EQ(Stored(1, "attachments/Bericht-\xC3\xBC\xE5\xB4\xA9 _1_.txt"), "non-ASCII name");
}

TEST_F(SmtpRoute, LinesOfDotsInTheBodyDoNotEndTheMessage)
{
    TPeerProcess peer(kPython, {PeerScript("smtp_peer.py"), "store", store_.path()});
    ASSERT_NE(peer.Port(), 0) << peer.Output();
    UseServer(peer.Port(), false);
    options_.SetMailBody("before\r\n.\r\n.hidden\r\n..two\r\nafter");
    options_.SetAppendLogToMail(false);
    EXPECT_TRUE(SendByEmail(options_, report_));
    EXPECT_EQ(Unix(Stored(1, "body")), Unix(options_.MailBody()));
}

TEST_F(SmtpRoute, TwentyMegabyteAttachmentArrivesWhole)
{
    TPeerProcess peer(kPython, {PeerScript("smtp_peer.py"), "store", store_.path()});
    ASSERT_NE(peer.Port(), 0) << peer.Output();
    UseServer(peer.Port(), false);
    const std::string big = PatternBytes(20 << 20, 7);
    testing_support::WriteFile(files_ / "big.bin", big);
    report_.Attachments = {files_ / "big.bin"};
    TWarningCollector warnings;
    TSendDialog dialog;
    dialog.Shown = true;
    std::vector<int> percents;
    std::vector<std::string> statuses;
    dialog.Progress = [&](int percent) { percents.push_back(percent); };
    dialog.Status = [&](const std::string& text) { statuses.push_back(text); };
    EXPECT_TRUE(SendByEmail(options_, report_, &dialog));
    EXPECT_EQ(warnings.All(), "");
    EXPECT_TRUE(Stored(1, "attachments/big.bin") == big);
    // The progress bar follows the bytes of the message, from 0 to 100.
    ASSERT_GT(percents.size(), 100u);
    EXPECT_EQ(percents.front(), 0);
    EXPECT_EQ(percents.back(), 100);
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    const std::vector<std::string> expected = {"Connecting with server...", "Connected with server.",
                                               "Sending message..."};
    EXPECT_EQ(statuses, expected);
}

TEST_F(SmtpRoute, TheSendDialogShowsTheCustomizedStatusTexts)
{
    TPeerProcess peer(kPython, {PeerScript("smtp_peer.py"), "store", store_.path()});
    ASSERT_NE(peer.Port(), 0) << peer.Output();
    UseServer(peer.Port(), false);
    options_.SetText(78, "Verbinde...");
    options_.SetText(79, "Verbunden.");
    options_.SetText(80, "Sende...");
    TSendDialog dialog;
    std::vector<std::string> statuses;
    dialog.Status = [&](const std::string& text) { statuses.push_back(text); };
    EXPECT_TRUE(SendByEmail(options_, report_, &dialog));
    EXPECT_EQ(statuses, (std::vector<std::string>{"Verbinde...", "Verbunden.", "Sende..."}));
}

TEST_F(SmtpRoute, ManyRecipientsWithSomeRefusedReachTheOthers)
{
    TPeerProcess peer(
        kPython, {PeerScript("smtp_peer.py"), "store", store_.path(), "--refuse", "r2@vek.invalid,r5@vek.invalid"});
    ASSERT_NE(peer.Port(), 0) << peer.Output();
    UseServer(peer.Port(), false);
    options_.SetMailRecipients(
        "r1@vek.invalid, r2@vek.invalid; r3@vek.invalid,r4@vek.invalid ;r5@vek.invalid,r6@vek.invalid;");
    TWarningCollector warnings;
    std::vector<std::pair<int, int>> numbers;
    TSendDialog dialog;
    dialog.Recipient = [&](int number, int count) { numbers.emplace_back(number, count); };
    EXPECT_TRUE(SendByEmail(options_, report_, &dialog));
    std::vector<std::string> reached;
    for (int n = 1; HasMessage(n); ++n) reached.push_back(Stored(n, "rcpt"));
    const std::vector<std::string> expected = {"r1@vek.invalid", "r3@vek.invalid", "r4@vek.invalid", "r6@vek.invalid"};
    EXPECT_EQ(reached, expected);
    ASSERT_EQ(warnings.Lines().size(), 2u) << warnings.All();
    EXPECT_NE(warnings.Lines()[0].find("RCPT TO:<r2@vek.invalid>\r\n550 5.1.1 No such user here"), std::string::npos);
    EXPECT_NE(warnings.Lines()[1].find("RCPT TO:<r5@vek.invalid>\r\n550 5.1.1 No such user here"), std::string::npos);
    EXPECT_EQ(numbers.size(), 6u);
    EXPECT_EQ(numbers.back(), std::make_pair(6, 6));
}

TEST_F(SmtpRoute, WrongPasswordIsRefusedAndNeverShown)
{
    TPeerProcess peer(kPython,
                      {PeerScript("smtp_peer.py"), "store", store_.path(), "--user", kUser, "--password", "other"});
    ASSERT_NE(peer.Port(), 0) << peer.Output();
    UseServer(peer.Port(), true);
    TWarningCollector warnings;
    EXPECT_FALSE(SendByEmail(options_, report_));
    EXPECT_FALSE(HasMessage(1));
    ASSERT_EQ(warnings.Lines().size(), 1u) << warnings.All();
    const std::string& line = warnings.Lines()[0];
    EXPECT_EQ(line.rfind("[WARNING] - Code: eeEmailSMTPError - Address: ", 0), 0u) << line;
    EXPECT_NE(line.find("Message: \"[SMTP] Connected to 127.0.0.1 port " + std::to_string(peer.Port())),
              std::string::npos)
        << line;
    EXPECT_NE(line.find("AUTH LOGIN\r\n334 "), std::string::npos) << line;
    EXPECT_NE(line.find("********\r\n535 "), std::string::npos) << line;
    EXPECT_FALSE(ShowsSecret(line, kPassword)) << line;
    EXPECT_EQ(LastWarning().Code, eeEmailSMTPError);
    EXPECT_FALSE(ShowsSecret(LastWarning().Message, kPassword));
}

TEST_F(SmtpRoute, ConnectionRefusedIsAWarningWithTheSocketLog)
{
    UseServer(net_testing::UnusedTcpPort(), true);
    TWarningCollector warnings;
    EXPECT_FALSE(SendByEmail(options_, report_));
    EXPECT_EQ(LastWarning().Code, eeEmailSMTPError);
    EXPECT_EQ(LastWarning().Message, "[SMTP] Connection error: \"Connection refused\"\r\nSocket log:\r\n");
}

TEST_F(SmtpRoute, ServerThatNeverAnswersTimesOut)
{
    TPeerProcess peer(kPython, {PeerScript("smtp_peer.py"), "script", store_.path(), "silent"});
    ASSERT_NE(peer.Port(), 0) << peer.Output();
    UseServer(peer.Port(), true);
    TDeliverySettings settings;
    settings.SmtpTimeoutMs = 1500;
    SetDeliverySettings(settings);
    TWarningCollector warnings;
    EXPECT_FALSE(SendByEmail(options_, report_));
    EXPECT_EQ(LastWarning().Message,
              "[SMTP] Socket timeout.\r\nSocket log:\r\nConnected to 127.0.0.1 port " + std::to_string(peer.Port()) +
                  "\r\n");
}

TEST_F(SmtpRoute, ServerThatHangsUpDuringDataIsAWarning)
{
    TPeerProcess peer(kPython, {PeerScript("smtp_peer.py"), "script", store_.path(), "close-in-data"});
    ASSERT_NE(peer.Port(), 0) << peer.Output();
    UseServer(peer.Port(), true);
    testing_support::WriteFile(files_ / "big.bin", PatternBytes(4 << 20, 3));
    report_.Attachments = {files_ / "big.bin"};
    TWarningCollector warnings;
    EXPECT_FALSE(SendByEmail(options_, report_));
    const TLastWarning last = LastWarning();
    EXPECT_EQ(last.Code, eeEmailSMTPError);
    const bool sendOrReceiveError = last.Message.rfind("[SMTP] Error into \"send\": ", 0) == 0 ||
        last.Message.rfind("[SMTP] Error into \"recv\": ", 0) == 0;
    EXPECT_TRUE(sendOrReceiveError) << last.Message.substr(0, 300);
    EXPECT_NE(last.Message.find("DATA\r\n354 End data"), std::string::npos) << last.Message.substr(0, 600);
    EXPECT_FALSE(ShowsSecret(last.Message, kPassword));
}

struct TRefusal {
    const char* Step;
    const char* Code;
    bool Login;
};

class SmtpRefusal : public SmtpRoute, public ::testing::WithParamInterface<TRefusal> {};

TEST_P(SmtpRefusal, EveryStepRefusedGivesTheWarningWithTheTranscript)
{
    const TRefusal refusal = GetParam();
    TPeerProcess peer(kPython,
                      {PeerScript("smtp_peer.py"), "script", store_.path(), "reply", refusal.Step, refusal.Code});
    ASSERT_NE(peer.Port(), 0) << peer.Output();
    UseServer(peer.Port(), refusal.Login);
    testing_support::WriteFile(files_ / "a.bin", PatternBytes(3000, 5));
    report_.Attachments = {files_ / "a.bin"};
    TWarningCollector warnings;
    EXPECT_FALSE(SendByEmail(options_, report_));
    ASSERT_EQ(warnings.Lines().size(), 1u) << warnings.All();
    const TLastWarning last = LastWarning();
    EXPECT_EQ(last.Code, eeEmailSMTPError);
    EXPECT_EQ(last.Message.rfind("[SMTP] Connected to 127.0.0.1 port " + std::to_string(peer.Port()) + "\r\n", 0), 0u)
        << last.Message;
    const std::string refusalLine = std::string(refusal.Code) + " Scripted refusal at " + refusal.Step + "\r\n";
    EXPECT_EQ(last.Message.substr(last.Message.size() - refusalLine.size()), refusalLine) << last.Message;
    EXPECT_FALSE(ShowsSecret(last.Message, kPassword)) << last.Message;
    EXPECT_FALSE(ShowsSecret(warnings.All(), kPassword));
}

INSTANTIATE_TEST_SUITE_P(
    Steps, SmtpRefusal,
    ::testing::Values(TRefusal{"greeting", "421", true}, TRefusal{"greeting", "554", false},
                      TRefusal{"ehlo", "421", true}, TRefusal{"ehlo", "501", true}, TRefusal{"helo", "421", false},
                      TRefusal{"helo", "501", false}, TRefusal{"rset", "451", true}, TRefusal{"rset", "500", false},
                      TRefusal{"auth", "454", true}, TRefusal{"auth", "504", true}, TRefusal{"user", "535", true},
                      TRefusal{"password", "454", true}, TRefusal{"password", "535", true},
                      TRefusal{"mail", "451", true}, TRefusal{"mail", "550", false}, TRefusal{"rcpt", "450", true},
                      TRefusal{"rcpt", "550", false}, TRefusal{"data", "451", true}, TRefusal{"data", "554", false},
                      TRefusal{"end", "452", true}, TRefusal{"end", "554", false}),
    [](const auto& info) {
        return std::string(info.param.Step) + info.param.Code + (info.param.Login ? "Login" : "");
    });

TEST_F(SmtpRoute, DirectDeliveryGoesToEachRecipientsMailExchanger)
{
    TPeerProcess dns(kPython, {PeerScript("dns_peer.py"), "dnsmasq"});
    ASSERT_NE(dns.Port(), 0) << dns.Output();
    TPeerProcess peer(kPython, {PeerScript("smtp_peer.py"), "store", store_.path()});
    ASSERT_NE(peer.Port(), 0) << peer.Output();
    net::SetDNSServers({{"127.0.0.1", dns.Port()}});
    options_.SetMailMethod(mmSmtpServer);
    options_.SetSmtpServer("unused.invalid");
    // Direct delivery logs in nowhere: this server takes no AUTH at all.
    UseServer(peer.Port(), true);
    options_.SetMailRecipients("alice@test.invalid; bob@gone.invalid; carol@nomx.invalid; dave@test.invalid");
    TWarningCollector warnings;
    EXPECT_TRUE(SendByEmail(options_, report_));
    ASSERT_TRUE(HasMessage(2));
    EXPECT_EQ(Stored(1, "rcpt"), "alice@test.invalid");
    EXPECT_EQ(Stored(2, "rcpt"), "dave@test.invalid");
    EXPECT_FALSE(HasMessage(3));
    ASSERT_EQ(warnings.Lines().size(), 2u) << warnings.All();
    EXPECT_NE(warnings.Lines()[0].find("[SMTP] Cannot resolve the \"gone.invalid\" MX record."), std::string::npos)
        << warnings.Lines()[0];
    EXPECT_NE(warnings.Lines()[0].find("no such domain"), std::string::npos);
    EXPECT_NE(warnings.Lines()[1].find("nomx.invalid"), std::string::npos);
    EXPECT_NE(warnings.Lines()[1].find("no MX record"), std::string::npos);
}

TEST_F(SmtpRoute, HandlersMayCancelTheStepOrAskForAnotherAttempt)
{
    UseServer(net_testing::UnusedTcpPort(), false);
    TDeliveryEvents events;
    std::vector<int> actions;
    int retries = 0;
    events.ActionNotify = [&](int action) {
        actions.push_back(action);
        return true;
    };
    events.ErrorNotify = [&](int error) {
        EXPECT_EQ(error, 5);
        return ++retries < 3;
    };
    EXPECT_FALSE(SendByEmail(options_, report_, nullptr, events));
    EXPECT_EQ(retries, 3);
    EXPECT_EQ(actions, (std::vector<int>{4, 5}));

    events.ActionNotify = [&](int action) { return action != 4; };
    retries = 0;
    EXPECT_FALSE(SendByEmail(options_, report_, nullptr, events));
    EXPECT_EQ(retries, 0);
}

} // namespace
