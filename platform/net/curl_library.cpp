#include "platform/net/curl_library.h"


#include <cstring>
#include <mutex>

namespace net {
namespace {

// The few libcurl declarations we use; the library is loaded at run time,
// so its headers are not needed to build.
using CURL = void;
struct curl_slist;
using curl_off_t = long long;
using CURLcode = int;

enum : int {
    kOptWriteData = 10001,
    kOptUrl = 10002,
    kOptProxy = 10004,
    kOptReadData = 10009,
    kOptErrorBuffer = 10010,
    kOptUserAgent = 10018,
    kOptHttpHeader = 10023,
    kOptHeaderData = 10029,
    kOptCaInfo = 10065,
    kOptDebugData = 10095,
    kOptUserName = 10173,
    kOptPassword = 10174,
    kOptProxyUserName = 10175,
    kOptProxyPassword = 10176,
    kOptNoProxy = 10177,
    kOptWriteFunction = 20011,
    kOptReadFunction = 20012,
    kOptHeaderFunction = 20079,
    kOptDebugFunction = 20094,
    kOptInFileSizeLarge = 30115,
    kOptPostFieldSizeLarge = 30120,
    kOptLowSpeedLimit = 19,
    kOptLowSpeedTime = 20,
    kOptVerbose = 41,
    kOptUpload = 46,
    kOptPost = 47,
    kOptFollowLocation = 52,
    kOptSslVerifyPeer = 64,
    kOptSslVerifyHost = 81,
    kOptNoSignal = 99,
    kOptConnectTimeoutMs = 156,
    kOptProtocols = 181,
    kOptRedirProtocols = 182,
};
constexpr int kInfoResponseCode = 0x200000 + 2;
constexpr long kProtoHttp = 1, kProtoHttps = 2, kProtoFtp = 4;
constexpr long kGlobalAll = 3;
constexpr std::size_t kErrorSize = 256;
// Debug callback kinds.
enum : int { kInfoText = 0, kInfoHeaderIn = 1, kInfoHeaderOut = 2 };

std::mutex g_nameLock;
std::string g_libraryName;

const std::string kHidden = "********";

} // namespace

struct TCurlLibrary::TFunctions {
    CURLcode (*global_init)(long);
    CURL* (*easy_init)();
    CURLcode (*easy_setopt)(CURL*, int, ...);
    CURLcode (*easy_perform)(CURL*);
    CURLcode (*easy_getinfo)(CURL*, int, ...);
    void (*easy_cleanup)(CURL*);
    void (*easy_reset)(CURL*);
    const char* (*easy_strerror)(CURLcode);
    curl_slist* (*slist_append)(curl_slist*, const char*);
    void (*slist_free_all)(curl_slist*);
};

void SetCurlLibraryName(const std::string& name)
{
    std::lock_guard<std::mutex> lock(g_nameLock);
    g_libraryName = name;
}

std::string CurlLibraryName()
{
    std::lock_guard<std::mutex> lock(g_nameLock);
    return g_libraryName.empty() ? "libcurl.so.4" : g_libraryName;
}

std::unique_ptr<TCurlLibrary> TCurlLibrary::Open(std::string& error)
{
    const std::string name = CurlLibraryName();
    std::unique_ptr<TCurlLibrary> library(new TCurlLibrary);
    library->library_ = kernel::TLibraryHandle::Load(name, error);
    if (!library->library_.Valid()) return nullptr;
    auto functions = std::make_unique<TFunctions>();
    const auto bind = [&](auto& target, const char* symbol) {
        void* address = library->library_.Symbol(symbol);
        if (address == nullptr && error.empty()) error = std::string("missing function ") + symbol;
        target = reinterpret_cast<std::remove_reference_t<decltype(target)>>(address);
    };
    error.clear();
    bind(functions->global_init, "curl_global_init");
    bind(functions->easy_init, "curl_easy_init");
    bind(functions->easy_setopt, "curl_easy_setopt");
    bind(functions->easy_perform, "curl_easy_perform");
    bind(functions->easy_getinfo, "curl_easy_getinfo");
    bind(functions->easy_cleanup, "curl_easy_cleanup");
    bind(functions->easy_reset, "curl_easy_reset");
    bind(functions->easy_strerror, "curl_easy_strerror");
    bind(functions->slist_append, "curl_slist_append");
    bind(functions->slist_free_all, "curl_slist_free_all");
    if (!error.empty()) return nullptr; // the destructor unloads it
    // Once per process in effect: libcurl counts the calls itself.
    static std::once_flag once;
    std::call_once(once, [&] { functions->global_init(kGlobalAll); });
    library->functions_ = std::move(functions);
    return library;
}

// libcurl's global state stays in place (no global clean-up): that would
// tear down the TLS library under other users in the process.
TCurlLibrary::~TCurlLibrary() = default;

TCurlSession::TCurlSession(const TCurlLibrary& library) : library_(library)
{
    easy_ = library_.Functions().easy_init();
}

TCurlSession::~TCurlSession()
{
    if (easy_ != nullptr) library_.Functions().easy_cleanup(easy_);
}

namespace {

struct TTransferState {
    const TUploadRequest* Request = nullptr;
    std::string* Transcript = nullptr;
    TUploadResult* Result = nullptr;
    std::string Pending[3]; // unfinished lines by debug kind
};

// Hides credentials in one line of the exchange.
std::string HideSecrets(std::string line, const TUploadRequest& request)
{
    const auto startsWith = [&](const char* prefix) {
        return ::strncasecmp(line.c_str(), prefix, std::strlen(prefix)) == 0;
    };
    if (startsWith("Authorization:")) return "Authorization: " + kHidden;
    if (startsWith("Proxy-Authorization:")) return "Proxy-Authorization: " + kHidden;
    if (startsWith("PASS ")) return "PASS " + kHidden;
    for (const std::string* secret : {&request.Password, &request.ProxyPassword}) {
        if (secret->empty()) continue;
        for (std::size_t at = line.find(*secret); at != std::string::npos; at = line.find(*secret, at + kHidden.size()))
            line.replace(at, secret->size(), kHidden);
    }
    return line;
}

int OnDebug(CURL*, int kind, char* data, std::size_t size, void* user)
{
    auto* state = static_cast<TTransferState*>(user);
    if (kind != kInfoText && kind != kInfoHeaderIn && kind != kInfoHeaderOut) return 0;
    static const char* const kMarks[] = {"* ", "< ", "> "};
    std::string& pending = state->Pending[kind];
    pending.append(data, size);
    std::size_t end;
    while ((end = pending.find('\n')) != std::string::npos) {
        std::string line = pending.substr(0, end);
        pending.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        line = HideSecrets(line, *state->Request);
        *state->Transcript += kMarks[kind] + line + "\r\n";
        // FTP replies come in as header lines: "nnn text".
        if (kind == kInfoHeaderIn && !state->Request->HttpPost && line.size() >= 3 &&
            std::isdigit(static_cast<unsigned char>(line[0])))
            state->Result->LastResponse = line;
    }
    return 0;
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user)
{
    auto* state = static_cast<TTransferState*>(user);
    std::string line(data, size * count);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    // "HTTP/1.1 500 Internal Server Error": the reason phrase of the last status line.
    if (line.compare(0, 5, "HTTP/") == 0) {
        const std::size_t code = line.find(' ');
        const std::size_t reason = code == std::string::npos ? code : line.find(' ', code + 1);
        state->Result->StatusText = reason == std::string::npos ? std::string() : line.substr(reason + 1);
    }
    return size * count;
}

std::size_t OnRead(char* buffer, std::size_t size, std::size_t count, void* user)
{
    auto* state = static_cast<TTransferState*>(user);
    return state->Request->Read ? state->Request->Read(buffer, size * count) : 0;
}

std::size_t OnWrite(char*, std::size_t size, std::size_t count, void*)
{
    return size * count; // the server's page is not needed
}

} // namespace

TUploadResult TCurlSession::Upload(const TUploadRequest& request)
{
    TUploadResult result;
    const TCurlLibrary::TFunctions& f = library_.Functions();
    if (easy_ == nullptr) {
        result.CurlCode = 2; // failed initialisation
        result.ErrorDetail = "curl_easy_init failed";
        return result;
    }
    f.easy_reset(easy_);
    TTransferState state{&request, &transcript_, &result, {}};
    char errorBuffer[kErrorSize] = {};
    curl_slist* headers = nullptr;
    for (const std::string& header : request.Headers) headers = f.slist_append(headers, header.c_str());

    f.easy_setopt(easy_, kOptUrl, request.Url.c_str());
    f.easy_setopt(easy_, kOptNoSignal, 1L);
    f.easy_setopt(easy_, kOptErrorBuffer, errorBuffer);
    f.easy_setopt(easy_, kOptUserAgent, "TavrelLog");
    f.easy_setopt(easy_, kOptProtocols, kProtoHttp | kProtoHttps | kProtoFtp);
    f.easy_setopt(easy_, kOptRedirProtocols, kProtoHttp | kProtoHttps);
    f.easy_setopt(easy_, kOptFollowLocation, 0L);
    f.easy_setopt(easy_, kOptConnectTimeoutMs, static_cast<long>(request.ConnectTimeoutMs));
    f.easy_setopt(easy_, kOptLowSpeedLimit, 1L);
    f.easy_setopt(easy_, kOptLowSpeedTime, static_cast<long>((request.StallTimeoutMs + 999) / 1000));
    f.easy_setopt(easy_, kOptVerbose, 1L);
    f.easy_setopt(easy_, kOptDebugFunction, &OnDebug);
    f.easy_setopt(easy_, kOptDebugData, &state);
    f.easy_setopt(easy_, kOptHeaderFunction, &OnHeader);
    f.easy_setopt(easy_, kOptHeaderData, &state);
    f.easy_setopt(easy_, kOptWriteFunction, &OnWrite);
    f.easy_setopt(easy_, kOptWriteData, &state);
    f.easy_setopt(easy_, kOptReadFunction, &OnRead);
    f.easy_setopt(easy_, kOptReadData, &state);
    if (!request.ProxyAddress.empty()) {
        f.easy_setopt(easy_, kOptProxy, request.ProxyAddress.c_str());
        f.easy_setopt(easy_, kOptNoProxy, "localhost,127.0.0.1,::1");
        if (!request.ProxyUser.empty()) f.easy_setopt(easy_, kOptProxyUserName, request.ProxyUser.c_str());
        if (!request.ProxyPassword.empty()) f.easy_setopt(easy_, kOptProxyPassword, request.ProxyPassword.c_str());
    }
    f.easy_setopt(easy_, kOptSslVerifyPeer, request.VerifyCertificate ? 1L : 0L);
    f.easy_setopt(easy_, kOptSslVerifyHost, request.VerifyCertificate ? 2L : 0L);
    if (!request.CertificateFile.empty()) f.easy_setopt(easy_, kOptCaInfo, request.CertificateFile.c_str());
    if (request.HttpPost) {
        f.easy_setopt(easy_, kOptPost, 1L);
        f.easy_setopt(easy_, kOptPostFieldSizeLarge, static_cast<curl_off_t>(request.Length));
        // No "Expect: 100-continue" pause before the body.
        headers = f.slist_append(headers, "Expect:");
    } else {
        f.easy_setopt(easy_, kOptUpload, 1L);
        f.easy_setopt(easy_, kOptInFileSizeLarge, static_cast<curl_off_t>(request.Length));
        if (!request.UserName.empty()) f.easy_setopt(easy_, kOptUserName, request.UserName.c_str());
        if (!request.Password.empty()) f.easy_setopt(easy_, kOptPassword, request.Password.c_str());
    }
    if (headers != nullptr) f.easy_setopt(easy_, kOptHttpHeader, headers);

    result.CurlCode = f.easy_perform(easy_);
    long code = 0;
    if (f.easy_getinfo(easy_, kInfoResponseCode, &code) == 0) result.ResponseCode = code;
    if (result.CurlCode != 0) {
        result.ErrorDetail = errorBuffer[0] != '\0' ? errorBuffer : f.easy_strerror(result.CurlCode);
        result.ErrorDetail = HideSecrets(result.ErrorDetail, request);
        transcript_ += "* " + result.ErrorDetail + "\r\n";
    }
    // The options point into this frame; none of them may outlive it.
    f.easy_reset(easy_);
    if (headers != nullptr) f.slist_free_all(headers);
    return result;
}

} // namespace net
