#pragma once
// libcurl, loaded at run time: a system without it loses only the web
// uploads. TCurlLibrary owns the library handle; TCurlSession owns one easy
// handle and runs uploads on it (HTTP(S) POST of a prepared body, FTP
// upload of one file), keeping a transcript of the exchange in which every
// password is hidden. curl's error codes are mapped onto the Windows
// Internet codes and texts (wininet_errors.h) by the caller.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/kernel/libraries.h"

namespace net {

class TCurlLibrary {
public:
    // Loads the library and its functions; null with the reason in error
    // when the library or one of its functions is missing.
    static std::unique_ptr<TCurlLibrary> Open(std::string& error);
    ~TCurlLibrary();
    TCurlLibrary(const TCurlLibrary&) = delete;
    TCurlLibrary& operator=(const TCurlLibrary&) = delete;

    struct TFunctions;
    const TFunctions& Functions() const { return *functions_; }

private:
    TCurlLibrary() = default;
    kernel::TLibraryHandle library_;
    std::unique_ptr<TFunctions> functions_;
};

// The file name dlopen is given: "libcurl.so.4", or another one a test sets
// to stand for a system without libcurl. An empty name restores the default.
void SetCurlLibraryName(const std::string& name);
std::string CurlLibraryName();

struct TUploadRequest {
    std::string Url;
    bool HttpPost = true;                               // false: FTP upload of one file
    std::vector<std::string> Headers;                   // extra request headers (HTTP)
    std::string UserName, Password;                     // FTP log-in
    std::string ProxyAddress, ProxyUser, ProxyPassword; // no proxy address: the system's settings
    bool VerifyCertificate = true;                      // HTTPS: refuse a server whose certificate does not verify
    std::string CertificateFile; // HTTPS: the trusted certificates, instead of the system store, when set
    std::uint32_t ConnectTimeoutMs = 30000;
    std::uint32_t StallTimeoutMs = 30000; // a transfer that moves nothing for this long fails
    std::uint64_t Length = 0;             // bytes the body source gives
    // Fills the buffer with the next bytes of the body (at most its size);
    // 0 at the end.
    std::function<std::size_t(char* buffer, std::size_t size)> Read;
};

struct TUploadResult {
    int CurlCode = 0;         // 0: the transfer ran to the end
    long ResponseCode = 0;    // HTTP status or last FTP reply code
    std::string StatusText;   // the reason phrase of the HTTP status line
    std::string LastResponse; // the server's last reply line (FTP)
    std::string ErrorDetail;  // curl's own text for a failure
};

class TCurlSession {
public:
    explicit TCurlSession(const TCurlLibrary& library);
    ~TCurlSession();
    TCurlSession(const TCurlSession&) = delete;
    TCurlSession& operator=(const TCurlSession&) = delete;

    bool Valid() const { return easy_ != nullptr; }
    TUploadResult Upload(const TUploadRequest& request);
    // Requests sent, headers and server replies of every upload, one line
    // each; passwords and credentials are replaced by "********".
    const std::string& Transcript() const { return transcript_; }

private:
    const TCurlLibrary& library_;
    void* easy_ = nullptr;
    std::string transcript_;
};

} // namespace net
