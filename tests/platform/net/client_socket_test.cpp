// The socket client against listeners of the test's own: refused and
// unknown hosts, a peer that never answers, one that closes, replies in
// several packets, chunked sends with progress, and the error path.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <chrono>
#include <functional>
#include <thread>

#include "tests/support/child_process.h"
#include "tests/support/peer_process.h"
#include "tests/support/private_resolver.h"
#include "tests/support/temp_dir.h"
#include "platform/net/client_socket.h"

namespace {

using net::ETavrelSocketError;
using net::TTavrelClientSocket;

// A TCP server on 127.0.0.1 serving one connection with the given body.
class TOneShotServer {
public:
    explicit TOneShotServer(std::function<void(int)> body)
    {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listen_, 1);
        socklen_t length = sizeof address;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this, body] {
            const int fd = ::accept(listen_, nullptr, nullptr);
            if (fd < 0) return;
            body(fd);
            ::close(fd);
        });
    }
    ~TOneShotServer()
    {
        // A connection of our own lets a server that has not accepted yet
        // take the test's connection first (it came earlier) and end.
        const int wake = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port_);
        ::connect(wake, reinterpret_cast<sockaddr*>(&address), sizeof address);
        thread_.join();
        ::close(wake);
        ::close(listen_);
    }
    std::uint16_t Port() const { return port_; }

private:
    int listen_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
};

std::string ErrorOf(const std::function<void()>& step)
{
    try {
        step();
    } catch (const ETavrelSocketError& e) {
        return e.Message;
    }
    return "<no error>";
}

TEST(ClientSocket, RefusedConnectionIsAnErrorWithTheSocketLog)
{
    TTavrelClientSocket socket("127.0.0.1", 2000, true, net_testing::UnusedTcpPort());
    const std::string message = ErrorOf([&] { socket.Connect(); });
    EXPECT_EQ(message, "Connection error: \"Connection refused\"\r\nSocket log:\r\n");
    EXPECT_FALSE(socket.IsConnected());
}

TEST(ClientSocket, UnknownHostIsAConnectionErrorAndReachesNoOtherMachine)
{
    // The system resolver would ask the machine's name server; here it asks
    // only the loopback one, in a child with a resolver configuration of its own.
    testing_support::TempDir folder;
    const auto r = vektest::RunInChild([&] {
        if (!vektest::UseLoopbackResolver(folder.path())) return 77;
        TTavrelClientSocket socket("no-such-host.invalid", 2000, true, 25);
        const std::string message = ErrorOf([&] { socket.Connect(); });
        std::printf("%s connected=%d\n", message.c_str(), socket.IsConnected() ? 1 : 0);
        return 0;
    });
    if (r.Exited && r.ExitCode == 77) GTEST_SKIP() << "no private mount namespace for the resolver";
    ASSERT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    EXPECT_EQ(r.Output.rfind("Connection error: \"", 0), 0u) << r.Output;
    EXPECT_NE(r.Output.find("connected=0"), std::string::npos) << r.Output;
}

TEST(ClientSocket, PeerThatNeverAnswersGivesSocketTimeoutWithTheConnectionLine)
{
    net_testing::TSilentListener silent;
    TTavrelClientSocket socket("127.0.0.1", 700, true, silent.Port());
    socket.Connect();
    EXPECT_EQ(socket.ReceiveWait(), "");
    const std::string message = ErrorOf([&] { socket.ReceiveOrFail(); });
    EXPECT_EQ(message,
              "Socket timeout.\r\nSocket log:\r\nConnected to 127.0.0.1 port " + std::to_string(silent.Port()) +
                  "\r\n");
}

TEST(ClientSocket, ReplyInSeveralPacketsIsReadAsOneAndKeptInTheTranscript)
{
    TOneShotServer server([](int fd) {
        ::send(fd, "first ", 6, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        ::send(fd, "second ", 7, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        ::send(fd, "third", 5, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    });
    TTavrelClientSocket socket("127.0.0.1", 3000, true, server.Port());
    socket.QuietMs = 500;
    socket.Connect();
    EXPECT_EQ(socket.ReceiveOrFail(), "first second third");
    EXPECT_NE(socket.Transcript.find("first second third"), std::string::npos);
}

TEST(ClientSocket, PeerThatClosesEndsTheWaitWithAnErrorInsteadOfTheTimeOut)
{
    TOneShotServer server([](int) {});
    TTavrelClientSocket socket("127.0.0.1", 60000, true, server.Port());
    socket.Connect();
    const std::string message = ErrorOf([&] { socket.ReceiveOrFail(); });
    EXPECT_EQ(message.rfind("Error into \"recv\": ", 0), 0u) << message;
    EXPECT_NE(message.find("Socket log:\r\nConnected to 127.0.0.1"), std::string::npos) << message;
    EXPECT_FALSE(socket.IsConnected());
}

TEST(ClientSocket, SendTextGoesOutInChunksOf1024WithProgressAfterEach)
{
    std::string received;
    std::string text(2500, 'x');
    for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + i % 26);
    std::vector<std::pair<std::size_t, std::size_t>> progress;
    {
        TOneShotServer server([&](int fd) {
            char buffer[4096];
            ssize_t got;
            while ((got = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
                received.append(buffer, static_cast<std::size_t>(got));
        });
        TTavrelClientSocket socket("127.0.0.1", 3000, true, server.Port());
        socket.ProgressHandler = [&](TTavrelClientSocket&, std::size_t soFar, std::size_t total) {
            progress.emplace_back(soFar, total);
        };
        socket.Connect();
        EXPECT_EQ(socket.SendText(text), text.size());
        socket.Disconnect();
        EXPECT_EQ(socket.Transcript, "");
    } // the server has read everything when it is gone
    const std::vector<std::pair<std::size_t, std::size_t>> expected = {{1024, 2500}, {2048, 2500}, {2500, 2500}};
    EXPECT_EQ(progress, expected);
    EXPECT_EQ(received, text);
}

TEST(ClientSocket, SendToAPeerThatStopsReadingEndsWithinTheTimeOut)
{
    net_testing::TSilentListener silent; // accepted by the kernel, never read
    TTavrelClientSocket socket("127.0.0.1", 800, true, silent.Port());
    socket.Connect();
    const std::string big(64 << 20, 'z');
    const std::string message = ErrorOf([&] { socket.SendText(big); });
    EXPECT_EQ(message.rfind("Error into \"send\": \"Connection timed out\"", 0), 0u) << message.substr(0, 200);
}

TEST(ClientSocket, ErrorPathTellsTheHandlerAndAppendsTheLogEvenWhenEmpty)
{
    TTavrelClientSocket socket("127.0.0.1", 1000, true, 1);
    int code = 0;
    std::string told;
    socket.ErrorHandler = [&](TTavrelClientSocket&, int c, const std::string& m) {
        code = c;
        told = m;
    };
    const std::string message = ErrorOf([&] { socket.RaiseSocketError("Something."); });
    EXPECT_EQ(message, "Something.\r\nSocket log:\r\n");
    EXPECT_EQ(told, message);
    EXPECT_EQ(code, -1);

    socket.Transcript = "line one\r\n";
    EXPECT_EQ(ErrorOf([&] { socket.RaiseSocketError(socket.Transcript); }), "line one\r\n");
}

TEST(ClientSocket, SilentErrorsRaiseTheSilentAbort)
{
    TTavrelClientSocket socket("127.0.0.1", 1000, true, net_testing::UnusedTcpPort());
    socket.SilentErrors = true;
    EXPECT_THROW(socket.Connect(), net::EAbort);
}

} // namespace
