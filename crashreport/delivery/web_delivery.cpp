#include "crashreport/delivery/web_delivery.h"
#include "platform/kernel/files.h"
#include "platform/rtl/file_names.h"

#include <fstream>
#include <iterator>
#include <random>

#include "crashreport/errorlog/warnings.h"
#include "crashreport/codecs/attachment_archive.h"
#include "crashreport/codecs/file_io.h"
#include "crashreport/delivery/mime_message.h"
#include "crashreport/codecs/base64.h"
#include "crashreport/options/module_options.h"
#include "platform/net/curl_library.h"
#include "platform/net/wininet_errors.h"
#include "platform/rtl/format.h"
#include "platform/rtl/strings.h"

namespace crashreport::delivery {
namespace {

constexpr std::size_t kChunk = 1024;
constexpr int kStatusNotNumeric = 2147483647;

bool FileSize(const std::string& path, std::uint64_t& size)
{
    const auto info = path.empty() ? std::nullopt : kernel::GetFileInfo(path);
    if (!info || !info->IsRegular) return false;
    size = info->Size;
    return true;
}

// Takes off the prefix up to the first separator when it holds only
// letters, digits, "-" and "."; otherwise the part stays empty.
std::string TakePrefix(std::string& text, const std::string& separator)
{
    const std::size_t at = text.find(separator);
    if (at == std::string::npos) return {};
    for (std::size_t i = 0; i < at; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (!std::isalnum(c) && c != '-' && c != '.') return {};
    }
    std::string part = text.substr(0, at);
    text.erase(0, at + separator.size());
    return part;
}

// A file name as one segment of an FTP address.
std::string EncodeSegment(const std::string& name) { return PercentEncode(name, "-._~", false); }

std::string HostForUrl(const std::string& host)
{
    return host.find(':') != std::string::npos && host.front() != '[' ? "[" + host + "]" : host;
}

net::TUploadRequest BaseRequest(const TDeliverySettings& settings)
{
    net::TUploadRequest request;
    request.ProxyAddress = settings.ProxyAddress;
    request.ProxyUser = settings.ProxyUser;
    request.ProxyPassword = settings.ProxyPassword;
    request.VerifyCertificate = !settings.AcceptUnverifiedCertificates;
    request.CertificateFile = settings.CertificateFile;
    request.ConnectTimeoutMs = settings.WebTimeoutMs;
    request.StallTimeoutMs = settings.WebTimeoutMs;
    return request;
}

// The result of one transfer as a Windows Internet code; 0 for success.
int TransferCode(const net::TUploadResult& result, bool http, std::string& errorText)
{
    if (result.CurlCode != 0) return net::WinInetCodeForCurlError(result.CurlCode);
    if (!http) return 0;
    if (result.ResponseCode == 200) return 0;
    errorText = result.StatusText;
    return result.ResponseCode > 0 && result.ResponseCode < kStatusNotNumeric ? static_cast<int>(result.ResponseCode)
                                                                              : kStatusNotNumeric;
}

} // namespace

bool ParseWebURL(const std::string& url, TWebURL& parsed)
{
    parsed = TWebURL{};
    std::string text = rtl::Trim(url);
    if (text.empty() || text.back() != '/') text += '/';
    // ":<digits>/" at the end is the port.
    std::size_t digits = text.size() - 1;
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(text[digits - 1]))) --digits;
    if (digits < text.size() - 1 && digits > 0 && text[digits - 1] == ':') {
        const std::string number = text.substr(digits, text.size() - 1 - digits);
        if (number.size() > 5 || std::stoul(number) > 65535) return false;
        parsed.Port = static_cast<std::uint32_t>(std::stoul(number));
        text.erase(digits - 1, number.size() + 1);
    }
    parsed.Scheme = TakePrefix(text, "://");
    parsed.UserName = TakePrefix(text, ":");
    parsed.Password = TakePrefix(text, "@");
    parsed.Host = TakePrefix(text, "/");
    if (!text.empty() && text.back() == '/') text.pop_back();
    parsed.Path = text;
    return true;
}

std::string MakeFormBoundary()
{
    static std::mutex lock;
    static std::mt19937 generator{std::random_device{}()};
    std::lock_guard<std::mutex> guard(lock);
    std::uniform_int_distribution<int> number(0, 65534);
    return rtl::Format("---------------------------%04X%04X%04X", number(generator), number(generator),
                       number(generator));
}

std::string BuildFormData(const std::vector<std::string>& files, const std::vector<std::string>& names,
                          const std::vector<std::string>& fieldNames, const std::vector<std::string>& fieldValues,
                          const std::string& boundary)
{
    std::string body;
    const std::size_t fields = std::min(fieldNames.size(), fieldValues.size());
    // Names go inside quotes: no quote or line break may end them early.
    const auto quoted = [](const std::string& text) {
        std::string result;
        for (char c : text) result += (c == '"' || c == '\r' || c == '\n') ? '_' : c;
        return result;
    };
    for (std::size_t i = 0; i < fields; ++i)
        body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + quoted(fieldNames[i]) +
            "\";\r\n\r\n" + fieldValues[i] + "\r\n";
    for (std::size_t i = 0; i < files.size(); ++i) {
        std::string bytes;
        if (!codecs::ReadWholeFile(files[i], bytes)) continue;
        const std::string name = i < names.size() ? names[i] : rtl::ExtractFileName(files[i]);
        body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"tl_upload_file_" + std::to_string(i) +
            "\"; filename=\"" + quoted(name) + "\";\r\nContent-Type: application/octet-stream\r\n\r\n";
        body += bytes;
        body += "\r\n";
    }
    body += "--" + boundary + "--\r\n";
    return body;
}

std::string WinInetErrorText(int code, const std::string& lastResponse)
{
    if (!lastResponse.empty()) return lastResponse;
    const std::string row = net::WinInetErrorRow(code);
    return row.size() > 6 ? row.substr(6) : std::string();
}

TWebUploadResult HttpUploadFiles(const std::string& host, const std::string& path, const std::string& userName,
                                 const TWebProgress& progress, const std::vector<std::string>& fieldValues,
                                 const std::vector<std::string>& fieldNames,
                                 const std::vector<std::string>& attachmentNames,
                                 const std::vector<std::string>& attachmentFiles, bool secure, std::uint32_t port,
                                 const std::string& password)
{
    TWebUploadResult outcome;
    std::string why;
    const std::unique_ptr<net::TCurlLibrary> library = net::TCurlLibrary::Open(why);
    if (!library) {
        outcome.Code = -1;
        outcome.Transcript = why + "\r\n";
        return outcome;
    }
    const std::string boundary = MakeFormBoundary();
    const std::string body = BuildFormData(attachmentFiles, attachmentNames, fieldNames, fieldValues, boundary);
    if (progress) progress(0, body.size(), 0);

    net::TUploadRequest request = BaseRequest(DeliverySettings());
    std::string address = (secure ? "https://" : "http://") + HostForUrl(host);
    if (port != 0) address += ":" + std::to_string(port);
    request.Url = address + "/" + path;
    request.HttpPost = true;
    request.Headers.push_back("Content-Type: multipart/form-data; boundary=" + boundary);
    if (!userName.empty() || !password.empty())
        request.Headers.push_back("Authorization: Basic " + codecs::EncodeBase64(userName + ":" + password));
    request.Password = password;
    request.Length = body.size();
    std::size_t done = 0;
    bool connected = false;
    request.Read = [&](char* buffer, std::size_t size) -> std::size_t {
        if (!connected) {
            connected = true;
            if (progress) progress(1, body.size(), 0);
        }
        const std::size_t count = std::min({size, kChunk, body.size() - done});
        std::copy_n(body.data() + done, count, buffer);
        done += count;
        if (progress && count > 0) progress(2, body.size(), done);
        return count;
    };
    net::TCurlSession session(*library);
    const net::TUploadResult result = session.Upload(request);
    outcome.Code = TransferCode(result, true, outcome.ErrorText);
    if (outcome.Code != 0 && outcome.ErrorText.empty()) outcome.ErrorText = WinInetErrorText(outcome.Code);
    outcome.Transcript = session.Transcript();
    return outcome;
}

TWebUploadResult FtpUploadFiles(const std::string& host, const std::string& folder, const std::string& userName,
                                const TWebProgress& progress, const std::vector<std::string>& attachmentNames,
                                const std::vector<std::string>& attachmentFiles, std::uint32_t port,
                                const std::string& password)
{
    TWebUploadResult outcome;
    if (attachmentFiles.empty()) return outcome;
    std::string why;
    const std::unique_ptr<net::TCurlLibrary> library = net::TCurlLibrary::Open(why);
    if (!library) {
        outcome.Code = -1;
        outcome.Transcript = why + "\r\n";
        return outcome;
    }
    std::uint64_t total = 0;
    for (const std::string& file : attachmentFiles) {
        std::uint64_t size = 0;
        if (FileSize(file, size)) total += size;
    }
    if (progress) progress(0, total, 0);
    net::TCurlSession session(*library);
    std::string prefix = folder;
    if (!prefix.empty() && prefix.back() != '/') prefix += '/';
    std::uint64_t written = 0;
    bool connected = false;
    std::string lastResponse;
    for (std::size_t i = 0; i < attachmentFiles.size() && outcome.Code == 0; ++i) {
        std::ifstream file;
        std::uint64_t size = 0;
        if (!FileSize(attachmentFiles[i], size)) continue;
        file.open(attachmentFiles[i], std::ios::binary);
        if (!file) continue;
        const std::string name =
            rtl::ExtractFileName(i < attachmentNames.size() ? attachmentNames[i] : attachmentFiles[i]);
        net::TUploadRequest request = BaseRequest(DeliverySettings());
        std::string address = "ftp://" + HostForUrl(host);
        if (port != 0) address += ":" + std::to_string(port);
        request.Url = address + "/" + prefix + EncodeSegment(name);
        request.HttpPost = false;
        request.UserName = userName;
        request.Password = password;
        request.Length = size;
        request.Read = [&](char* buffer, std::size_t room) -> std::size_t {
            if (!connected) {
                connected = true;
                if (progress) progress(1, total, 0);
            }
            file.read(buffer, static_cast<std::streamsize>(std::min(room, kChunk)));
            const std::size_t count = static_cast<std::size_t>(file.gcount());
            written += count;
            if (progress && count > 0) progress(2, total, written);
            return count;
        };
        const net::TUploadResult result = session.Upload(request);
        outcome.Code = TransferCode(result, false, outcome.ErrorText);
        lastResponse = result.LastResponse;
    }
    if (outcome.Code != 0 && outcome.ErrorText.empty())
        outcome.ErrorText = WinInetErrorText(
            outcome.Code, outcome.Code == 12003 || outcome.Code == 12015 ? lastResponse : std::string());
    outcome.Transcript = session.Transcript();
    return outcome;
}

bool SendByWeb(const TTavrelModuleOptions& options, const TDeliveryReport& report, TSendDialog* dialog,
               const TDeliveryEvents& events)
{
    if (events.ActionNotify && !events.ActionNotify(6)) return false;
    TakeSendDialogTexts(options, dialog);
    bool delivered = false;
    bool retry = false;
    do {
        delivered = false;
        if (dialog != nullptr && dialog->Start) dialog->Start();
        TWebURL url;
        ParseWebURL(options.WebAddress(), url);
        url.Port = options.WebServerPort();
        url.UserName = options.WebUser();
        url.Password = options.WebUserPassword();
        const bool stamp = options.SendFlags().Contains(sfTimestampFileNames);
        std::vector<std::string> names;
        for (const std::string& file : report.Attachments)
            names.push_back(codecs::AttachmentName(file, stamp, report.ExceptionTime));
        const TWebProgress progress = [dialog](int stage, std::uint64_t total, std::uint64_t done) {
            if (dialog == nullptr) return;
            if (stage == 0 && dialog->Status) dialog->Status(dialog->Connecting);
            if (stage == 1 && dialog->Status) dialog->Status(dialog->Connected);
            if (stage == 2 && dialog->Progress && total > 0) dialog->Progress(static_cast<int>(done * 100 / total));
        };
        const TWebMethod method = options.WebMethod();
        TWebUploadResult result;
        if (report.Attachments.empty()) {
            // Nothing to upload counts as done.
        } else if (method == wmFtp) {
            result = FtpUploadFiles(url.Host, url.Path, url.UserName, progress, names, report.Attachments, url.Port,
                                    url.Password);
        } else if (method == wmHttp || method == wmHttps) {
            std::vector<std::string> fieldNames, fieldValues;
            if (events.CustomFields) events.CustomFields(fieldNames, fieldValues);
            result = HttpUploadFiles(url.Host, url.Path, url.UserName, progress, fieldValues, fieldNames, names,
                                     report.Attachments, method == wmHttps, url.Port, url.Password);
        }
        if (dialog != nullptr && dialog->Close) dialog->Close();
        const TTavrelLogErrorCode code = method == wmFtp ? eeWebFTPError
            : method == wmHttps                          ? eeWebHTTPSError
                                                         : eeWebHTTPError;
        if (result.Code == 0) {
            delivered = true;
        } else {
            const char* protocol = method == wmFtp ? "FTP" : method == wmHttps ? "HTTPS" : "HTTP";
            std::string suffix;
            if (result.Code == -1)
                suffix = rtl::FormatStrings(" - Cannot find the \"%s\" library.", {net::CurlLibraryName()});
            else if (!result.ErrorText.empty())
                suffix = " (" + result.ErrorText + ")";
            std::string message = rtl::Format("%s error code: %d", protocol, result.Code) + suffix;
            if (!result.Transcript.empty()) message += "\r\nSocket log:\r\n" + result.Transcript;
            RecordWarning(code, message);
        }
        retry = !delivered && events.ErrorNotify && events.ErrorNotify(code);
    } while (retry);
    if (events.ActionNotify) events.ActionNotify(7);
    return delivered;
}

} // namespace crashreport::delivery
