#include "platform/net/wininet_errors.h"

#include <cstring>

namespace net {
namespace {

// The system's standard descriptions of the Windows Internet error codes.
constexpr const char* kRows[] = {
    "12002 The request has timed out.",
    "12003 An extended error was returned from the server.",
    "12004 An internal error has occurred.",
    "12005 The URL is invalid.",
    "12006 The URL scheme could not be recognized, or is not supported.",
    "12007 The server name could not be resolved.",
    "12013 The request to connect and log on to an FTP server could not be completed because the supplied user name is "
    "incorrect.",
    "12014 The request to connect and log on to an FTP server could not be completed because the supplied password is "
    "incorrect.",
    "12015 The request to connect to and log on to an FTP server failed.",
    "12016 The requested operation is invalid.",
    "12020 The request cannot be made via a proxy.",
    "12028 The requested item could not be located.",
    "12029 The attempt to connect to the server failed.",
    "12030 The connection with the server has been terminated.",
    "12031 The connection with the server has been reset.",
    "12033 The request to the proxy was invalid.",
    "12037 SSL certificate date that was received from the server is bad. The certificate is expired.",
    "12038 SSL certificate common name (host name field) is incorrect.",
    "12039 The application is moving from a non-SSL to an SSL connection because of a redirect.",
    "12040 The application is moving from an SSL to an non-SSL connection because of a redirect.",
    "12041 The content is not entirely secure. Some of the content being viewed may have come from unsecured servers.",
    "12042 The application is posting and attempting to change multiple lines of text on a server that is not secure.",
    "12043 The application is posting data to a server that is not secure.",
    "12044 The server is requesting client authentication.",
    "12045 The function is unfamiliar with the Certificate Authority that generated the server's certificate.",
    "12052 The data being submitted to an SSL connection is being redirected to a non-SSL connection.",
    "12055 The SSL certificate contains errors.",
    "12111 The FTP operation was not completed because the session was aborted.",
    "12112 Passive mode is not available on the server.",
    "12133 The end of the data has been reached.",
    "12150 The requested header could not be located.",
    "12151 The server did not return any headers.",
    "12152 The server response could not be parsed.",
    "12153 The supplied header is invalid.",
    "12160 The HTTP request was not redirected.",
    "12161 The HTTP cookie requires confirmation.",
    "12162 The HTTP cookie was declined by the server.",
    "12163 The Internet connection has been lost.",
    "12164 The Web site or server indicated is unreachable.",
    "12165 The designated proxy server cannot be reached.",
    "12166 There was an error in the automatic proxy configuration script.",
    "12167 The automatic proxy configuration script could not be downloaded.",
    "12168 The redirection requires user confirmation.",
    "12169 SSL certificate is invalid.",
    "12170 SSL certificate was revoked.",
    "12171 The function failed due to a security check.",
};

} // namespace

std::string WinInetErrorRow(int code)
{
    const std::string key = std::to_string(code);
    for (const char* row : kRows)
        if (key.size() == 5 && std::strncmp(row, key.c_str(), 5) == 0) return row;
    return {};
}

int WinInetCodeForCurlError(int curlCode)
{
    switch (curlCode) {
    case 0: return 0;
    case 1: return 12006; // unsupported protocol
    case 3: return 12005; // malformed URL
    case 5: return 12165; // proxy name not resolved
    case 6: return 12007; // host name not resolved
    case 7: return 12029; // could not connect
    case 8: return 12152; // weird server reply
    case 9:
    case 19:
    case 21:
    case 25:
    case 78: return 12003; // the server refused: its reply says why
    case 11:
    case 67: return 12015; // log-in refused
    case 13:
    case 14: return 12112; // passive mode unusable
    case 18:
    case 52:
    case 55:
    case 56: return 12030; // connection ended early
    case 28: return 12002; // timed out
    case 35:
    case 59:
    case 64: return 12171; // the secure connection could not be made
    case 51:
    case 60:
    case 77: return 12045; // the certificate does not verify
    case 58: return 12044; // client certificate problem
    case 91: return 12170; // revoked
    case 47: return 12160; // redirects
    default: return 12004; // internal error
    }
}

} // namespace net
