#pragma once
// A small blocking TCP or UDP client with a transcript of the whole
// exchange: the connection line, every command sent and every reply
// received, in order. Reading is time-out based: a reply is what arrives
// until the line goes quiet, and a caller can wait up to TimeoutMs for one.
// Errors are raised as ETavrelSocketError (or EAbort with SilentErrors)
// whose message ends with the transcript. One object is used by one thread.
#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/kernel/unique_fd.h"
#include "platform/net/socket_error.h"

namespace net {

class TTavrelClientSocket {
public:
    enum : int { kStream = 1, kDatagram = 2 };

    // Told of every error before it is raised; the code is always -1.
    using TErrorHandler = std::function<void(TTavrelClientSocket& sender, int code, const std::string& message)>;
    // Told after every chunk of a text send.
    using TProgressHandler = std::function<void(TTavrelClientSocket& sender, std::size_t soFar, std::size_t total)>;

    // Nothing is opened yet. stream true gives TCP, false UDP.
    TTavrelClientSocket(std::string host, std::uint32_t timeoutMs, bool stream, std::uint16_t port);
    virtual ~TTavrelClientSocket();
    TTavrelClientSocket(const TTavrelClientSocket&) = delete;
    TTavrelClientSocket& operator=(const TTavrelClientSocket&) = delete;

    // Opens and connects; does nothing when connected already. The connect
    // itself waits at most TimeoutMs. The transcript begins with
    // "Connected to a.b.c.d port n".
    virtual void Connect();
    // Closes the socket and forgets the transcript.
    virtual void Disconnect();

    // One send; 0 when not connected. A send that cannot go out within
    // TimeoutMs (a peer that stops reading) is an error, never a hang.
    long SendBuffer(const void* bytes, std::size_t length);
    // The text in chunks of at most 1024 bytes, progress after each chunk.
    std::size_t SendText(std::string_view text);
    // One receive; with size -1 the number of bytes waiting instead.
    long ReceiveBuffer(void* buffer, long size);
    // Everything that arrives until QuietMs pass with nothing new; empty at
    // once when nothing is waiting. A peer that never goes quiet is cut off
    // after TimeoutMs or 1 MiB.
    std::string ReceiveAvailable();
    // Waits up to TimeoutMs for something to arrive, then reads it as
    // ReceiveAvailable does; may be empty.
    std::string ReceiveWait();
    // ReceiveWait, raising "Socket timeout." when nothing came.
    std::string ReceiveOrFail();
    // One datagram, waiting at most waitMs; empty when none came. Not added
    // to the transcript (DNS replies are binary).
    std::string ReceiveDatagram(std::uint32_t waitMs);

    // The common error path: the message, then "\r\nSocket log:\r\n" and the
    // transcript unless the message holds the transcript already.
    [[noreturn]] void RaiseSocketError(const std::string& message);

    bool IsConnected() const { return socket_.Valid(); }
    int SocketHandle() const { return socket_.Get(); }
    const sockaddr_in& RemoteAddress() const { return remote_; }

    std::string HostName;
    std::uint16_t PortNumber;
    int SocketKind;
    std::uint32_t TimeoutMs;
    // How long the line must stay quiet before a reply counts as complete.
    std::uint32_t QuietMs = 1000;
    std::string Transcript;
    TErrorHandler ErrorHandler;
    TProgressHandler ProgressHandler;
    bool SilentErrors = false;

protected:
    // Reads until complete(text) says the reply is whole, the line stays
    // quiet for QuietMs after something came, or TimeoutMs pass (with
    // nothing, or with a peer that keeps sending), or 1 MiB has come. The
    // text read is added to the transcript.
    std::string ReceiveUntil(const std::function<bool(const std::string&)>& complete);

private:
    // Closes after a failed send or receive, keeping the transcript for the
    // error message.
    void Drop();
    [[noreturn]] void RaiseSystemError(const char* format, int error);
    // Reads what is waiting into result; false when the peer closed.
    bool ReadWaiting(std::string& result);

    sockaddr_in remote_{};
    kernel::TUniqueFd socket_;
};

// The system's text for an errno value.
std::string SystemErrorText(int error);

} // namespace net
