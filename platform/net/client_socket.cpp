#include "platform/net/client_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "platform/rtl/format.h"

namespace net {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kChunk = 1024;
constexpr std::size_t kMaxReply = 1 << 20;

int MillisecondsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left);
}

// Waits for the events on fd for at most ms milliseconds; EINTR is waited through.
bool PollFor(int fd, short events, int ms)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        pollfd p{fd, events, 0};
        const int r = ::poll(&p, 1, MillisecondsLeft(deadline));
        if (r > 0) return true;
        if (r == 0) return false;
        if (errno != EINTR) return true; // let the read or write report the error
    }
}

} // namespace

std::string SystemErrorText(int error)
{
    char buffer[256];
    return ::strerror_r(error, buffer, sizeof buffer);
}

TTavrelClientSocket::TTavrelClientSocket(std::string host, std::uint32_t timeoutMs, bool stream, std::uint16_t port)
    : HostName(std::move(host)), PortNumber(port), SocketKind(stream ? kStream : kDatagram), TimeoutMs(timeoutMs)
{
}

TTavrelClientSocket::~TTavrelClientSocket() = default; // the owner closes the socket

void TTavrelClientSocket::Connect()
{
    if (IsConnected()) return;
    const int type = SocketKind == kStream ? SOCK_STREAM : SOCK_DGRAM;
    kernel::TUniqueFd fd(::socket(AF_INET, type | SOCK_CLOEXEC, 0));
    if (!fd.Valid()) RaiseSocketError(rtl::FormatStrings("Invalid socket: \"%s\".", {SystemErrorText(errno)}));

    // The host by name, first IPv4 address. An unknown host is an error here:
    // connecting to 0.0.0.0 instead would reach this very machine.
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(PortNumber);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = type;
    addrinfo* found = nullptr;
    const int lookup = ::getaddrinfo(HostName.c_str(), nullptr, &hints, &found);
    if (lookup != 0 || found == nullptr) {
        const std::string text = lookup == EAI_SYSTEM ? SystemErrorText(errno) : ::gai_strerror(lookup);
        RaiseSocketError(rtl::FormatStrings("Connection error: \"%s\"", {text}));
    }
    address.sin_addr = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    ::freeaddrinfo(found);

    // Connect without blocking so that an address that never answers costs
    // at most TimeoutMs, then go back to blocking mode.
    const int flags = ::fcntl(fd.Get(), F_GETFL);
    ::fcntl(fd.Get(), F_SETFL, flags | O_NONBLOCK);
    int error = 0;
    if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        error = errno;
        if (error == EINPROGRESS) {
            if (!PollFor(fd.Get(), POLLOUT, static_cast<int>(TimeoutMs))) {
                error = ETIMEDOUT;
            } else {
                socklen_t length = sizeof error;
                if (::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
            }
        }
    }
    if (error != 0) RaiseSocketError(rtl::FormatStrings("Connection error: \"%s\"", {SystemErrorText(error)}));
    ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK);
    timeval limit{static_cast<time_t>(TimeoutMs / 1000), static_cast<suseconds_t>((TimeoutMs % 1000) * 1000)};
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);

    socket_ = std::move(fd);
    remote_ = address;
    const auto* b = reinterpret_cast<const unsigned char*>(&address.sin_addr.s_addr);
    Transcript = rtl::Format("Connected to %d.%d.%d.%d port %d\r\n", b[0], b[1], b[2], b[3], PortNumber);
}

void TTavrelClientSocket::Disconnect()
{
    if (!socket_.Valid()) return;
    if (!socket_.Close()) RaiseSystemError("Cannot close the socket: \"%s\"", errno);
    remote_ = sockaddr_in{};
    Transcript.clear();
}

void TTavrelClientSocket::Drop()
{
    socket_.Reset();
    remote_ = sockaddr_in{};
}

void TTavrelClientSocket::RaiseSystemError(const char* format, int error)
{
    RaiseSocketError(rtl::FormatStrings(format, {SystemErrorText(error)}));
}

long TTavrelClientSocket::SendBuffer(const void* bytes, std::size_t length)
{
    if (!IsConnected()) return 0;
    for (;;) {
        // MSG_NOSIGNAL: a peer that closed gives EPIPE here instead of ending the process.
        const ssize_t sent = ::send(socket_.Get(), bytes, length, MSG_NOSIGNAL);
        if (sent >= 0) return static_cast<long>(sent);
        const int error = errno;
        if (error == EINTR) continue;
        Drop();
        // The socket is blocking, so "would block" means the send time-out passed.
        RaiseSystemError("Error into \"send\": \"%s\"", error == EAGAIN || error == EWOULDBLOCK ? ETIMEDOUT : error);
    }
}

std::size_t TTavrelClientSocket::SendText(std::string_view text)
{
    std::size_t total = 0;
    while (total < text.size()) {
        const std::size_t chunk = std::min(kChunk, text.size() - total);
        std::size_t done = 0;
        while (done < chunk) {
            const long sent = SendBuffer(text.data() + total + done, chunk - done);
            if (sent <= 0) return total + done; // not connected
            done += static_cast<std::size_t>(sent);
        }
        total += done;
        if (ProgressHandler) ProgressHandler(*this, total, text.size());
    }
    return total;
}

long TTavrelClientSocket::ReceiveBuffer(void* buffer, long size)
{
    if (!IsConnected()) return 0;
    if (size == -1) {
        int waiting = 0;
        if (::ioctl(socket_.Get(), FIONREAD, &waiting) != 0) waiting = 0;
        return waiting;
    }
    for (;;) {
        const ssize_t got = ::recv(socket_.Get(), buffer, static_cast<std::size_t>(size), 0);
        if (got >= 0) return static_cast<long>(got);
        const int error = errno;
        if (error == EINTR) continue;
        if (error == EAGAIN || error == EWOULDBLOCK) return -1;
        Drop();
        RaiseSystemError("Error into \"recv\": \"%s\"", error);
    }
}

bool TTavrelClientSocket::ReadWaiting(std::string& result)
{
    long waiting = ReceiveBuffer(nullptr, -1);
    if (waiting <= 0) {
        // Readable with nothing waiting: the peer closed (or an error waits).
        char probe[1];
        const long got = ReceiveBuffer(probe, 1);
        if (got == 0) return false;
        if (got > 0) {
            result.append(probe, 1);
            Transcript.append(probe, 1);
        }
        return true;
    }
    std::vector<char> buffer(static_cast<std::size_t>(waiting));
    const long got = ReceiveBuffer(buffer.data(), waiting);
    if (got == 0) return false;
    if (got > 0) {
        result.append(buffer.data(), static_cast<std::size_t>(got));
        Transcript.append(buffer.data(), static_cast<std::size_t>(got));
    }
    return true;
}

std::string TTavrelClientSocket::ReceiveUntil(const std::function<bool(const std::string&)>& complete)
{
    std::string result;
    if (!IsConnected()) RaiseSocketError("Error into \"recv\": \"The connection is closed.\"");
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(TimeoutMs);
    for (;;) {
        // A peer that never stops sending cannot keep us here: the reply ends
        // at the time-out or at kMaxReply bytes, whichever comes first.
        if (!result.empty() && (Clock::now() >= deadline || result.size() >= kMaxReply)) break;
        const int wait = result.empty() ? MillisecondsLeft(deadline)
                                        : std::min(static_cast<int>(QuietMs), std::max(MillisecondsLeft(deadline), 1));
        if (!PollFor(socket_.Get(), POLLIN, wait)) break;
        if (!ReadWaiting(result)) {
            // The peer closed: what came before is the reply; with nothing, say so.
            Drop();
            if (result.empty()) RaiseSocketError("Error into \"recv\": \"The connection was closed by the server.\"");
            break;
        }
        if (complete && complete(result)) break;
    }
    return result;
}

std::string TTavrelClientSocket::ReceiveAvailable()
{
    std::string result;
    if (!IsConnected()) return result;
    int wait = 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(TimeoutMs);
    while (result.size() < kMaxReply && (result.empty() || Clock::now() < deadline) &&
           PollFor(socket_.Get(), POLLIN, wait)) {
        if (!ReadWaiting(result)) {
            Drop();
            break;
        }
        wait = static_cast<int>(QuietMs);
    }
    return result;
}

std::string TTavrelClientSocket::ReceiveWait()
{
    if (!IsConnected()) return {};
    return ReceiveUntil(nullptr);
}

std::string TTavrelClientSocket::ReceiveOrFail()
{
    std::string reply = ReceiveWait();
    if (reply.empty()) RaiseSocketError("Socket timeout.");
    return reply;
}

std::string TTavrelClientSocket::ReceiveDatagram(std::uint32_t waitMs)
{
    if (!IsConnected() || !PollFor(socket_.Get(), POLLIN, static_cast<int>(waitMs))) return {};
    std::string datagram(65536, '\0');
    const long got = ReceiveBuffer(datagram.data(), static_cast<long>(datagram.size()));
    datagram.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return datagram;
}

void TTavrelClientSocket::RaiseSocketError(const std::string& message)
{
    std::string text = message;
    if (Transcript.empty() || text.find(Transcript) == std::string::npos) text += "\r\nSocket log:\r\n" + Transcript;
    if (ErrorHandler) ErrorHandler(*this, -1, text);
    if (SilentErrors) throw EAbort(text);
    throw ETavrelSocketError(text);
}

} // namespace net
