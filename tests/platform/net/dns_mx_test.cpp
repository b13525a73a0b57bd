// The MX lookup: the query bytes, the reply parser on crafted replies, the
// name server list, and whole lookups against dnsmasq and scripted name
// servers that answer wrongly or not at all.
#include <gtest/gtest.h>

#include <functional>

#include "tests/support/peer_process.h"
#include "platform/net/dns_mx.h"
#include "platform/net/socket_error.h"
#include "tests/support/temp_dir.h"

namespace {

using net::ParseMXReply;
using net::TMXReplyStatus;
using Bytes = std::vector<std::uint8_t>;

void Append(Bytes& b, std::initializer_list<int> values)
{
    for (int v : values) b.push_back(static_cast<std::uint8_t>(v));
}

void AppendName(Bytes& b, const std::string& name)
{
    std::size_t start = 0;
    while (start < name.size()) {
        const std::size_t dot = name.find('.', start);
        const std::string label = name.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        b.push_back(static_cast<std::uint8_t>(label.size()));
        b.insert(b.end(), label.begin(), label.end());
        start = dot == std::string::npos ? name.size() : dot + 1;
    }
    b.push_back(0);
}

// A reply to "ex.com" with id 0x1234 and the given MX answers (preference, name).
Bytes Reply(const std::vector<std::pair<int, std::string>>& answers, int flags = 0x8180, int id = 0x1234)
{
    Bytes b;
    Append(b, {id >> 8, id & 0xFF, flags >> 8, flags & 0xFF, 0, 1, 0, static_cast<int>(answers.size()), 0, 0, 0, 0});
    AppendName(b, "ex.com");
    Append(b, {0, 15, 0, 1});
    for (const auto& [preference, name] : answers) {
        Bytes data;
        Append(data, {preference >> 8, preference & 0xFF});
        AppendName(data, name);
        Append(b, {0xC0, 12, 0, 15, 0, 1, 0, 0, 0, 60, 0, static_cast<int>(data.size())});
        b.insert(b.end(), data.begin(), data.end());
    }
    return b;
}

std::string ResolveError(const std::string& address, std::uint32_t timeoutMs)
{
    try {
        return "found " + net::ResolveMX(address, timeoutMs);
    } catch (const net::ETavrelSocketError& e) {
        return e.Message;
    }
}

class DnsServers : public ::testing::Test {
protected:
    void TearDown() override { net::SetDNSServers({}); }
};

TEST(DnsQuery, IsTheRecursiveMXQuestionForTheLabels)
{
    const Bytes expected = {0xAB, 0xCD, 0x01, 0x00, 0, 1,   0,   0, 0, 0,  0, 0, 4,
                            'm',  'a',  'i',  'l',  2, 'e', 'x', 0, 0, 15, 0, 1};
    EXPECT_EQ(net::BuildMXQuery("mail.ex", 0xABCD), expected);
    EXPECT_EQ(net::BuildMXQuery("mail.ex.", 0xABCD), expected);
    EXPECT_TRUE(net::BuildMXQuery("", 1).empty());
    EXPECT_TRUE(net::BuildMXQuery("a..b", 1).empty());
    EXPECT_TRUE(net::BuildMXQuery(std::string(64, 'a') + ".com", 1).empty());
    EXPECT_FALSE(net::BuildMXQuery(std::string(63, 'a') + ".com", 1).empty());
}

TEST(DnsReply, LowestPreferenceWinsWhateverTheOrder)
{
    const auto reply = ParseMXReply(Reply({{20, "backup.ex.com"}, {5, "main.ex.com"}, {10, "mid.ex.com"}}), 0x1234);
    EXPECT_EQ(reply.Status, TMXReplyStatus::Found);
    EXPECT_EQ(reply.Exchange, "main.ex.com");
    EXPECT_EQ(reply.Preference, 5);
}

TEST(DnsReply, AnswersOtherThanMXAreSkipped)
{
    Bytes b = Reply({{10, "mx.ex.com"}});
    b[7] = 2;
    // A CNAME answer before the MX one.
    Bytes cname = {0xC0, 12, 0, 5, 0, 1, 0, 0, 0, 60, 0, 2, 0xC0, 12};
    b.insert(b.begin() + 24, cname.begin(), cname.end());
    const auto reply = ParseMXReply(b, 0x1234);
    EXPECT_EQ(reply.Status, TMXReplyStatus::Found);
    EXPECT_EQ(reply.Exchange, "mx.ex.com");
    Bytes only = Reply({});
    only[7] = 1;
    only.insert(only.end(), cname.begin(), cname.end());
    EXPECT_EQ(ParseMXReply(only, 0x1234).Status, TMXReplyStatus::NoRecord);
}

TEST(DnsReply, CompressedExchangeNameIsFollowed)
{
    Bytes b = Reply({});
    b[7] = 1;
    // Preference 1, then "mx" and a pointer to "ex.com" in the question.
    Append(b, {0xC0, 12, 0, 15, 0, 1, 0, 0, 0, 60, 0, 7, 0, 1, 2, 'm', 'x', 0xC0, 12});
    const auto reply = ParseMXReply(b, 0x1234);
    EXPECT_EQ(reply.Status, TMXReplyStatus::Found);
    EXPECT_EQ(reply.Exchange, "mx.ex.com");
}

TEST(DnsReply, ResponseCodesFlagsAndIdentifierAreChecked)
{
    EXPECT_EQ(ParseMXReply(Reply({{1, "a.b"}}), 0x1235).Status, TMXReplyStatus::WrongId);
    EXPECT_EQ(ParseMXReply(Reply({}, 0x8183), 0x1234).Status, TMXReplyStatus::NameError);
    EXPECT_EQ(ParseMXReply(Reply({}, 0x8182), 0x1234).Status, TMXReplyStatus::ServerFailure);
    EXPECT_EQ(ParseMXReply(Reply({}, 0x8180), 0x1234).Status, TMXReplyStatus::NoRecord);
    EXPECT_EQ(ParseMXReply(Reply({{1, "a.b"}}, 0x8380), 0x1234).Status, TMXReplyStatus::Truncated);
    EXPECT_EQ(ParseMXReply(Reply({{1, "a.b"}}, 0x0100), 0x1234).Status, TMXReplyStatus::Malformed); // a query
    EXPECT_EQ(ParseMXReply(Reply({{1, "."}}), 0x1234).Status, TMXReplyStatus::NoRecord);
}

TEST(DnsReply, EveryCutOfAReplyIsReadSafelyAndNeverFound)
{
    const Bytes full = Reply({{10, "mx.ex.com"}});
    ASSERT_EQ(ParseMXReply(full, 0x1234).Status, TMXReplyStatus::Found);
    for (std::size_t length = 0; length < full.size(); ++length) {
        const Bytes cut(full.begin(), full.begin() + static_cast<long>(length));
        const auto reply = ParseMXReply(cut, 0x1234);
        EXPECT_NE(reply.Status, TMXReplyStatus::Found) << length;
        EXPECT_TRUE(reply.Exchange.empty()) << length;
    }
}

TEST(DnsReply, PointerLoopsAndForwardPointersAreMalformed)
{
    Bytes b = Reply({});
    b[7] = 1;
    const int at = static_cast<int>(b.size());
    // The exchange name points at itself.
    Append(b, {0xC0, 12, 0, 15, 0, 1, 0, 0, 0, 60, 0, 4, 0, 1, 0xC0, at + 14});
    EXPECT_EQ(ParseMXReply(b, 0x1234).Status, TMXReplyStatus::NoRecord);
    // The question name points forwards.
    Bytes q = {0x12, 0x34, 0x81, 0x80, 0, 1, 0, 0, 0, 0, 0, 0, 0xC0, 20, 0, 15, 0, 1, 0, 0, 0, 0};
    EXPECT_EQ(ParseMXReply(q, 0x1234).Status, TMXReplyStatus::Malformed);
}

TEST(DnsReply, NoiseAfterTheHeaderIsNeverFound)
{
    Bytes b = Reply({});
    b[7] = 40;
    for (int i = 0; i < 4000; ++i) b.push_back(static_cast<std::uint8_t>(i * 7 + 3));
    EXPECT_NE(ParseMXReply(b, 0x1234).Status, TMXReplyStatus::Found);
}

TEST(DnsServerList, ReadsIPv4NameServersOfResolvConf)
{
    testing_support::TempDir dir;
    testing_support::WriteFile(dir / "resolv.conf",
                               "# comment\nsearch example\nnameserver 10.1.2.3\nnameserver 0.0.0.0\n"
                               "nameserver ::1\nnameserver   192.168.0.1  \noptions ndots:1\nnameserver bogus\n");
    const auto servers = net::ReadDNSServers(dir / "resolv.conf");
    ASSERT_EQ(servers.size(), 2u);
    EXPECT_EQ(servers[0].Address, "10.1.2.3");
    EXPECT_EQ(servers[1].Address, "192.168.0.1");
    EXPECT_EQ(servers[1].Port, 53);
    EXPECT_TRUE(net::ReadDNSServers(dir / "missing").empty());
}

TEST_F(DnsServers, DnsmasqGivesTheLowestPreferenceExchanger)
{
    net_testing::TPeerProcess dns(net_testing::kPython, {net_testing::PeerScript("dns_peer.py"), "dnsmasq"});
    ASSERT_NE(dns.Port(), 0) << dns.Output();
    net::SetDNSServers({{"127.0.0.1", dns.Port()}});
    EXPECT_EQ(net::ResolveMX("alice@test.invalid", 3000), "localhost");
    // Without "@" the whole address is the domain.
    EXPECT_EQ(net::ResolveMX("test.invalid", 3000), "localhost");
}

TEST_F(DnsServers, DefiniteNegativeAnswersAreReportedWithoutFurtherAttempts)
{
    net_testing::TPeerProcess dns(net_testing::kPython, {net_testing::PeerScript("dns_peer.py"), "dnsmasq"});
    ASSERT_NE(dns.Port(), 0) << dns.Output();
    net::SetDNSServers({{"127.0.0.1", dns.Port()}});
    const std::string port = std::to_string(dns.Port());
    EXPECT_EQ(ResolveError("bob@gone.invalid", 3000),
              "Cannot resolve the \"gone.invalid\" MX record.\r\nSocket log:\r\n127.0.0.1 port " + port +
                  ", attempt 1: no such domain\r\n");
    EXPECT_EQ(ResolveError("bob@nomx.invalid", 3000),
              "Cannot resolve the \"nomx.invalid\" MX record.\r\nSocket log:\r\n127.0.0.1 port " + port +
                  ", attempt 1: no MX record\r\n");
}

struct TBadServerCase {
    const char* Mode;
    const char* Outcome;
    int Attempts; // a definite answer ends the attempts at that server
};

class BadNameServer : public DnsServers, public ::testing::WithParamInterface<TBadServerCase> {};

TEST_P(BadNameServer, EveryAttemptFailsAndTheErrorSaysHow)
{
    net_testing::TPeerProcess dns(net_testing::kPython, {net_testing::PeerScript("dns_peer.py"), GetParam().Mode});
    ASSERT_NE(dns.Port(), 0) << dns.Output();
    net::SetDNSServers({{"127.0.0.1", dns.Port()}});
    const std::string message = ResolveError("carol@example.invalid", 600);
    EXPECT_EQ(message.rfind("Cannot resolve the \"example.invalid\" MX record.\r\nSocket log:\r\n", 0), 0u) << message;
    for (int attempt = 1; attempt <= GetParam().Attempts; ++attempt)
        EXPECT_NE(message.find("attempt " + std::to_string(attempt) + ": " + GetParam().Outcome), std::string::npos)
            << message;
    EXPECT_EQ(message.find("attempt " + std::to_string(GetParam().Attempts + 1)), std::string::npos) << message;
}

INSTANTIATE_TEST_SUITE_P(
    Replies, BadNameServer,
    ::testing::Values(TBadServerCase{"wrong-id", "reply to another query", 3},
                      TBadServerCase{"truncated", "truncated reply", 3}, TBadServerCase{"tc", "truncated reply", 3},
                      TBadServerCase{"oversized", "malformed reply", 3}, TBadServerCase{"loop", "no MX record", 1},
                      TBadServerCase{"not-mx", "no MX record", 1}, TBadServerCase{"silent", "no reply", 3}),
    [](const auto& info) {
        std::string name = info.param.Mode;
        std::erase(name, '-');
        return name;
    });

TEST_F(DnsServers, NoServerListeningIsAnErrorNotAHang)
{
    net::SetDNSServers({{"127.0.0.1", net_testing::UnusedTcpPort()}});
    const std::string message = ResolveError("dave@example.invalid", 600);
    EXPECT_EQ(message.rfind("Cannot resolve the \"example.invalid\" MX record.", 0), 0u) << message;
    EXPECT_NE(message.find("attempt 3"), std::string::npos) << message;
}

TEST_F(DnsServers, NextServerIsAskedWhenOneFails)
{
    net_testing::TPeerProcess silent(net_testing::kPython, {net_testing::PeerScript("dns_peer.py"), "silent"});
    net_testing::TPeerProcess good(net_testing::kPython, {net_testing::PeerScript("dns_peer.py"), "good"});
    ASSERT_NE(silent.Port(), 0);
    ASSERT_NE(good.Port(), 0);
    net::SetDNSServers({{"127.0.0.1", silent.Port()}, {"127.0.0.1", good.Port()}});
    EXPECT_EQ(net::ResolveMX("erin@example.invalid", 300), "localhost");
}

TEST_F(DnsServers, DomainThatIsNoNameIsRefusedWithoutAQuery)
{
    net::SetDNSServers({{"127.0.0.1", 9}});
    EXPECT_EQ(ResolveError("x@a..b", 300),
              "Cannot resolve the \"a..b\" MX record.\r\nSocket log:\r\nThe domain is not a valid name.\r\n");
}

} // namespace
