// The SMTP command layer against the scripted SMTP peer: the greeting, a
// multi-line reply in packets, refused codes, and commands that try to
// smuggle a second line.
#include <gtest/gtest.h>

#include "tests/support/peer_process.h"
#include "platform/net/smtp_client.h"
#include "tests/support/temp_dir.h"

namespace {

using net::TTavrelClientSMTP;
using net_testing::kPython;
using net_testing::PeerScript;
using net_testing::TPeerProcess;

TEST(SmtpReply, CompletenessFollowsTheLastLine)
{
    EXPECT_TRUE(net::SmtpReplyComplete("250 OK\r\n"));
    EXPECT_TRUE(net::SmtpReplyComplete("250\r\n"));
    EXPECT_TRUE(net::SmtpReplyComplete("250-a\r\n250-b\r\n250 c\r\n"));
    EXPECT_FALSE(net::SmtpReplyComplete("250-a\r\n250-b\r\n"));
    EXPECT_FALSE(net::SmtpReplyComplete("250 OK"));
    EXPECT_FALSE(net::SmtpReplyComplete("25"));
    EXPECT_FALSE(net::SmtpReplyComplete("hello there\r\n"));
    EXPECT_EQ(net::SmtpReplyCode("250-a\r\n550 b\r\n"), 250);
    EXPECT_EQ(net::SmtpReplyCode("x250"), -1);
    EXPECT_EQ(net::SmtpReplyCode(""), -1);
}

TEST(SmtpClient, MultiLineReplyInPacketsCountsAsOneWithItsFirstCode)
{
    testing_support::TempDir dir;
    TPeerProcess peer(kPython, {PeerScript("smtp_peer.py"), "script", dir.path(), "slow-ehlo"});
    ASSERT_NE(peer.Port(), 0) << peer.Output();
    TTavrelClientSMTP client("127.0.0.1", 5000, peer.Port());
    client.Connect();
    EXPECT_TRUE(client.Command("EHLO me", {250}));
    // The next reply belongs to the next command, not to the rest of EHLO's.
    EXPECT_TRUE(client.Command("RSET", {250}));
    const std::string& t = client.Transcript;
    EXPECT_NE(t.find("EHLO me\r\n250-scripted\r\n250-AUTH LOGIN\r\n250 HELP\r\nRSET\r\n250 OK\r\n"), std::string::npos)
        << t;
}

TEST(SmtpClient, GreetingOtherThan220RaisesTheTranscript)
{
    testing_support::TempDir dir;
    TPeerProcess peer(kPython, {PeerScript("smtp_peer.py"), "script", dir.path(), "reply", "greeting", "554"});
    ASSERT_NE(peer.Port(), 0) << peer.Output();
    TTavrelClientSMTP client("127.0.0.1", 5000, peer.Port());
    try {
        client.Connect();
        FAIL() << "no error";
    } catch (const net::ETavrelSocketError& e) {
        EXPECT_EQ(e.Message,
                  "Connected to 127.0.0.1 port " + std::to_string(peer.Port()) +
                      "\r\n554 Scripted refusal at greeting\r\n");
    }
}

TEST(SmtpClient, GreetingThatNeverEndsIsCutOffAtTheTimeOut)
{
    testing_support::TempDir dir;
    TPeerProcess peer(kPython, {PeerScript("smtp_peer.py"), "script", dir.path(), "flood"});
    ASSERT_NE(peer.Port(), 0) << peer.Output();
    TTavrelClientSMTP client("127.0.0.1", 1500, peer.Port());
    // The reply so far counts: its code is the greeting's.
    client.Connect();
    EXPECT_EQ(client.LastReplyCode(), 220);
    EXPECT_LE(client.Transcript.size(), (1u << 20) + 64 * 1024);
}

TEST(SmtpClient, RefusedCommandRaisesTheWholeTranscriptOnce)
{
    testing_support::TempDir dir;
    TPeerProcess peer(kPython, {PeerScript("smtp_peer.py"), "script", dir.path(), "reply", "mail", "451"});
    ASSERT_NE(peer.Port(), 0) << peer.Output();
    TTavrelClientSMTP client("127.0.0.1", 5000, peer.Port());
    client.Connect();
    client.Command("HELO me", {250});
    try {
        client.Command("MAIL FROM:<a@b>", {250});
        FAIL() << "no error";
    } catch (const net::ETavrelSocketError& e) {
        EXPECT_EQ(e.Message, client.Transcript);
        EXPECT_NE(e.Message.find("HELO me\r\n250 scripted\r\nMAIL FROM:<a@b>\r\n451 Scripted refusal at mail\r\n"),
                  std::string::npos)
            << e.Message;
        EXPECT_EQ(e.Message.find("Socket log:"), std::string::npos);
    }
    EXPECT_EQ(client.LastReplyCode(), 451);
}

TEST(SmtpClient, LineBreaksInsideACommandCannotStartASecondCommand)
{
    testing_support::TempDir dir;
    {
        TPeerProcess peer(kPython, {PeerScript("smtp_peer.py"), "script", dir.path(), "plain"});
        ASSERT_NE(peer.Port(), 0) << peer.Output();
        TTavrelClientSMTP client("127.0.0.1", 5000, peer.Port());
        client.Connect();
        client.Command("HELO me", {250});
        client.Command("MAIL FROM:<a@b>\r\nRCPT TO:<victim@c>\r\n", {250});
        EXPECT_NE(client.Transcript.find("MAIL FROM:<a@b> RCPT TO:<victim@c>\r\n250 OK\r\n"), std::string::npos)
            << client.Transcript;
    }
    const std::string received = testing_support::ReadFile(dir / "received");
    EXPECT_EQ(received, "HELO me\r\nMAIL FROM:<a@b> RCPT TO:<victim@c>\r\n");
}

TEST(SmtpClient, ShownTextStandsForASecretInTheTranscript)
{
    testing_support::TempDir dir;
    TPeerProcess peer(kPython, {PeerScript("smtp_peer.py"), "script", dir.path(), "reply", "password", "535"});
    ASSERT_NE(peer.Port(), 0) << peer.Output();
    TTavrelClientSMTP client("127.0.0.1", 5000, peer.Port());
    client.Connect();
    client.Command("EHLO me", {250});
    client.Command("AUTH LOGIN", {334});
    client.Command("dXNlcg==", {334});
    try {
        client.Command("c2VjcmV0", {235}, "********");
        FAIL() << "no error";
    } catch (const net::ETavrelSocketError& e) {
        EXPECT_EQ(e.Message.find("c2VjcmV0"), std::string::npos) << e.Message;
        EXPECT_NE(e.Message.find("dXNlcg==\r\n334 UGFzc3dvcmQ6\r\n********\r\n535 Scripted refusal"), std::string::npos)
            << e.Message;
    }
}

} // namespace
