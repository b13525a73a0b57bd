// Web delivery end to end: an HTTP and an HTTPS server (certificate made
// by openssl for the test) parse the form data with Python's email parser;
// pyftpdlib takes the FTP uploads. Faults: status 500, a redirect loop, a
// certificate that does not verify, refused uploads and log-ins, a refused
// connection, a server that never answers, and no libcurl at all.
#include <gtest/gtest.h>

#include "crashreport/errorlog/warnings.h"
#include "crashreport/codecs/base64.h"
#include "crashreport/delivery/web_delivery.h"
#include "crashreport/options/module_options.h"
#include "delivery_test_support.h"
#include "tests/support/peer_process.h"
#include "platform/net/curl_library.h"
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
using testing_support::FileExists;
using testing_support::ReadFile;
using testing_support::TempDir;

const std::string kWebPassword = "w3b-Secret!";

TEST(WebURL, SchemeUserPasswordHostAndPath)
{
    TWebURL url;
    ASSERT_TRUE(ParseWebURL(" http://reports.example.com/upload.php ", url));
    EXPECT_EQ(url.Scheme, "http");
    EXPECT_EQ(url.Host, "reports.example.com");
    EXPECT_EQ(url.Path, "upload.php");
    EXPECT_EQ(url.UserName, "");
    EXPECT_EQ(url.Password, "");
    ASSERT_TRUE(ParseWebURL("ftp://me:pw@files.example.com/in/reports/", url));
    EXPECT_EQ(url.UserName, "me");
    EXPECT_EQ(url.Password, "pw");
    EXPECT_EQ(url.Host, "files.example.com");
    EXPECT_EQ(url.Path, "in/reports");
    ASSERT_TRUE(ParseWebURL("host.example.com/cgi/up", url));
    EXPECT_EQ(url.Scheme, "");
    EXPECT_EQ(url.Host, "host.example.com");
    EXPECT_EQ(url.Path, "cgi/up");
    ASSERT_TRUE(ParseWebURL("http://h.example.com:8080", url));
    EXPECT_EQ(url.Port, 8080u);
    EXPECT_EQ(url.Host, "h.example.com");
    EXPECT_FALSE(ParseWebURL("http://h.example.com:99999", url));
}

TEST(FormData, FieldsThenExistingFilesThenTheClosingLine)
{
    TempDir dir;
    testing_support::WriteFile(dir / "b.bin", "B\r\n--x");
    const std::string body = BuildFormData({dir / "missing", dir / "b.bin"}, {"missing", "b_1.bin"},
                                           {"app", "version", "extra"}, {"vek", "5.1.5"}, "BOUND");
    EXPECT_EQ(body,
              "--BOUND\r\nContent-Disposition: form-data; name=\"app\";\r\n\r\nvek\r\n"
              "--BOUND\r\nContent-Disposition: form-data; name=\"version\";\r\n\r\n5.1.5\r\n"
              "--BOUND\r\nContent-Disposition: form-data; name=\"tl_upload_file_1\"; filename=\"b_1.bin\";\r\n"
              "Content-Type: application/octet-stream\r\n\r\nB\r\n--x\r\n"
              "--BOUND--\r\n");
    EXPECT_EQ(BuildFormData({dir / "missing"}, {"m"}, {}, {}, "X"), "--X--\r\n");
    const std::string boundary = MakeFormBoundary();
    ASSERT_EQ(boundary.size(), 39u);
    EXPECT_EQ(boundary.substr(0, 27), std::string(27, '-'));
    EXPECT_EQ(boundary.find_first_not_of("0123456789ABCDEF", 27), std::string::npos) << boundary;
}

class WebRoute : public ::testing::Test {
protected:
    WebRoute() : options_("", false)
    {
        options_.SetWebUser("uploader");
        options_.SetWebUserPassword(kWebPassword);
        png_ = PatternBytes(70000, 11);
        bin_ = PatternBytes(1500, 12);
        testing_support::WriteFile(files_ / "Screenshot.png", png_);
        testing_support::WriteFile(files_ / "report.txt", bin_);
        testing_support::WriteFile(files_ / "empty.log", "");
        report_.Attachments = {files_ / "Screenshot.png", files_ / "gone.bin", files_ / "report.txt",
                               files_ / "empty.log"};
        events_.CustomFields = [](std::vector<std::string>& names, std::vector<std::string>& values) {
            names = {"product", "note"};
            values = {"Vek to avi Converter", "non-ASCII \xC3\xBC and \"quotes\""};
        };
    }
    ~WebRoute() override
    {
        SetDeliverySettings({});
        net::SetCurlLibraryName("");
    }

    void UseHttp(TWebMethod method, std::uint16_t port, const std::string& path)
    {
        options_.SetWebMethod(method);
        options_.SetWebAddress(std::string(method == wmHttps ? "https" : "http") + "://127.0.0.1/" + path);
        options_.SetWebServerPort(port);
    }

    // The upload that the HTTP peer stored as number n.
    void ExpectUpload(int n)
    {
        const std::string at = store_ / std::to_string(n);
        ASSERT_TRUE(FileExists(at + "/defects")) << "no upload " << n;
        EXPECT_EQ(ReadFile(at + "/defects"), "");
        EXPECT_EQ(ReadFile(at + "/content_type").rfind("multipart/form-data; boundary=---------------------------", 0),
                  0u);
        EXPECT_EQ(ReadFile(at + "/authorization"), "Basic " + codecs::EncodeBase64("uploader:" + kWebPassword));
        EXPECT_EQ(ReadFile(at + "/fields/product"), "Vek to avi Converter");
        EXPECT_EQ(ReadFile(at + "/fields/note"), "non-ASCII \xC3\xBC and \"quotes\"");
        EXPECT_EQ(ReadFile(at + "/files/tl_upload_file_0/Screenshot.png"), png_);
        EXPECT_EQ(ReadFile(at + "/files/tl_upload_file_2/report.txt"), bin_);
        EXPECT_EQ(ReadFile(at + "/files/tl_upload_file_3/empty.log"), "");
        EXPECT_EQ(ReadFile(at + "/order"), "product\nnote\ntl_upload_file_0\ntl_upload_file_2\ntl_upload_file_3");
    }

    TTavrelModuleOptions options_;
    TDeliveryReport report_;
    TDeliveryEvents events_;
    TempDir store_, files_;
    std::string png_, bin_;
};

TEST_F(WebRoute, HttpUploadCarriesFieldsAndFilesByteForByte)
{
    TPeerProcess peer(kPython, {PeerScript("http_peer.py"), store_.path()});
    ASSERT_NE(peer.Port(), 0) << peer.Output();
    UseHttp(wmHttp, peer.Port(), "upload/report");
    TWarningCollector warnings;
    std::vector<int> percents;
    TSendDialog dialog;
    dialog.Progress = [&](int percent) { percents.push_back(percent); };
    EXPECT_TRUE(SendByWeb(options_, report_, &dialog, events_));
    EXPECT_EQ(warnings.All(), "");
    ExpectUpload(1);
    EXPECT_EQ(ReadFile(store_ / "1/path"), "/upload/report");
    ASSERT_FALSE(percents.empty());
    EXPECT_EQ(percents.back(), 100);
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
}

TEST_F(WebRoute, TwentyMegabyteFileIsUploadedWhole)
{
    TPeerProcess peer(kPython, {PeerScript("http_peer.py"), store_.path()});
    ASSERT_NE(peer.Port(), 0) << peer.Output();
    UseHttp(wmHttp, peer.Port(), "upload");
    const std::string big = PatternBytes(20 << 20, 21);
    testing_support::WriteFile(files_ / "big.bin", big);
    report_.Attachments = {files_ / "big.bin"};
    TWarningCollector warnings;
    EXPECT_TRUE(SendByWeb(options_, report_, nullptr, events_));
    EXPECT_EQ(warnings.All(), "");
    EXPECT_TRUE(ReadFile(store_ / "1/files/tl_upload_file_0/big.bin") == big);
}

TEST_F(WebRoute, HttpsUploadWithTheServersCertificateTrusted)
{
    TPeerProcess peer(kPython, {PeerScript("http_peer.py"), store_.path(), "--tls"});
    ASSERT_NE(peer.Port(), 0) << peer.Output();
    UseHttp(wmHttps, peer.Port(), "upload");
    TDeliverySettings settings;
    settings.CertificateFile = store_ / "cert.pem";
    SetDeliverySettings(settings);
    TWarningCollector warnings;
    EXPECT_TRUE(SendByWeb(options_, report_, nullptr, events_));
    EXPECT_EQ(warnings.All(), "");
    ExpectUpload(1);
}

TEST_F(WebRoute, HttpsServerWhoseCertificateDoesNotVerifyIsRefusedUnlessAllowed)
{
    TPeerProcess peer(kPython, {PeerScript("http_peer.py"), store_.path(), "--tls"});
    ASSERT_NE(peer.Port(), 0) << peer.Output();
    UseHttp(wmHttps, peer.Port(), "upload");
    {
        TWarningCollector warnings;
        EXPECT_FALSE(SendByWeb(options_, report_, nullptr, events_));
        EXPECT_FALSE(FileExists(store_ / "1"));
        const TLastWarning last = LastWarning();
        EXPECT_EQ(last.Code, eeWebHTTPSError);
        EXPECT_EQ(last.Message.rfind("HTTPS error code: 12045 (The function is unfamiliar with the Certificate "
                                     "Authority that generated the server's certificate.)\r\nSocket log:\r\n",
                                     0),
                  0u)
            << last.Message;
        EXPECT_FALSE(ShowsSecret(warnings.All(), kWebPassword)) << warnings.All();
    }
    TDeliverySettings settings;
    settings.AcceptUnverifiedCertificates = true;
    SetDeliverySettings(settings);
    TWarningCollector warnings;
    EXPECT_TRUE(SendByWeb(options_, report_, nullptr, events_));
    ExpectUpload(1);
}

TEST_F(WebRoute, ServerErrorStatusIsTheResultWithItsText)
{
    TPeerProcess peer(kPython, {PeerScript("http_peer.py"), store_.path()});
    ASSERT_NE(peer.Port(), 0) << peer.Output();
    UseHttp(wmHttp, peer.Port(), "fail");
    TWarningCollector warnings;
    EXPECT_FALSE(SendByWeb(options_, report_, nullptr, events_));
    const TLastWarning last = LastWarning();
    EXPECT_EQ(last.Code, eeWebHTTPError);
    EXPECT_EQ(last.Message.rfind("HTTP error code: 500 (Internal Server Error)\r\nSocket log:\r\n", 0), 0u)
        << last.Message;
    EXPECT_NE(last.Message.find("< HTTP/1.1 500 Internal Server Error"), std::string::npos) << last.Message;
    EXPECT_NE(last.Message.find("> Authorization: ********"), std::string::npos) << last.Message;
    EXPECT_FALSE(ShowsSecret(warnings.All(), kWebPassword)) << warnings.All();
}

TEST_F(WebRoute, RedirectLoopIsNotFollowed)
{
    TPeerProcess peer(kPython, {PeerScript("http_peer.py"), store_.path()});
    ASSERT_NE(peer.Port(), 0) << peer.Output();
    UseHttp(wmHttp, peer.Port(), "loop");
    TWarningCollector warnings;
    EXPECT_FALSE(SendByWeb(options_, report_, nullptr, events_));
    EXPECT_EQ(LastWarning().Message.rfind("HTTP error code: 302 (Found)\r\n", 0), 0u) << LastWarning().Message;
    EXPECT_EQ(warnings.Lines().size(), 1u);
}

TEST_F(WebRoute, RefusedConnectionAndSilentServerGiveTheirCodes)
{
    UseHttp(wmHttp, net_testing::UnusedTcpPort(), "upload");
    {
        TWarningCollector warnings;
        EXPECT_FALSE(SendByWeb(options_, report_, nullptr, events_));
        EXPECT_EQ(
            LastWarning().Message.rfind("HTTP error code: 12029 (The attempt to connect to the server failed.)", 0), 0u)
            << LastWarning().Message;
    }
    TPeerProcess peer(kPython, {PeerScript("http_peer.py"), store_.path()});
    ASSERT_NE(peer.Port(), 0) << peer.Output();
    UseHttp(wmHttp, peer.Port(), "slow");
    TDeliverySettings settings;
    settings.WebTimeoutMs = 2000;
    SetDeliverySettings(settings);
    TWarningCollector warnings;
    EXPECT_FALSE(SendByWeb(options_, report_, nullptr, events_));
    EXPECT_EQ(LastWarning().Message.rfind("HTTP error code: 12002 (The request has timed out.)", 0), 0u)
        << LastWarning().Message;
}

TEST_F(WebRoute, ProxySettingsCarryTheUploadThroughTheProxy)
{
    TPeerProcess proxy(kPython, {PeerScript("http_peer.py"), store_.path()});
    ASSERT_NE(proxy.Port(), 0) << proxy.Output();
    // A host that no resolver knows: only the proxy can take the request.
    options_.SetWebMethod(wmHttp);
    options_.SetWebAddress("http://reports.invalid/upload/here");
    options_.SetWebServerPort(8080);
    TDeliverySettings settings;
    settings.ProxyAddress = "http://127.0.0.1:" + std::to_string(proxy.Port());
    settings.ProxyUser = "proxyuser";
    settings.ProxyPassword = "pr0xy-Pass";
    SetDeliverySettings(settings);
    TWarningCollector warnings;
    EXPECT_TRUE(SendByWeb(options_, report_, nullptr, events_));
    EXPECT_EQ(warnings.All(), "");
    ExpectUpload(1);
    EXPECT_EQ(ReadFile(store_ / "1/path"), "/upload/here");
    EXPECT_EQ(ReadFile(store_ / "1/proxy_authorization"), "Basic " + codecs::EncodeBase64("proxyuser:pr0xy-Pass"));
}

TEST_F(WebRoute, ProxyPasswordNeverShowsInTheWarning)
{
    options_.SetWebMethod(wmHttp);
    options_.SetWebAddress("http://reports.invalid/upload");
    options_.SetWebServerPort(8080);
    TDeliverySettings settings;
    settings.ProxyAddress = "http://127.0.0.1:" + std::to_string(net_testing::UnusedTcpPort());
    settings.ProxyUser = "proxyuser";
    settings.ProxyPassword = "pr0xy-Pass";
    SetDeliverySettings(settings);
    TWarningCollector warnings;
    EXPECT_FALSE(SendByWeb(options_, report_, nullptr, events_));
    EXPECT_EQ(LastWarning().Message.rfind("HTTP error code: 12029 ", 0), 0u) << LastWarning().Message;
    EXPECT_FALSE(ShowsSecret(warnings.All(), "pr0xy-Pass")) << warnings.All();
    EXPECT_FALSE(ShowsSecret(warnings.All(), "proxyuser:pr0xy-Pass")) << warnings.All();
}

TEST_F(WebRoute, EmptyAttachmentListUploadsNothingAndSucceeds)
{
    UseHttp(wmHttp, net_testing::UnusedTcpPort(), "upload");
    report_.Attachments.clear();
    TWarningCollector warnings;
    EXPECT_TRUE(SendByWeb(options_, report_, nullptr, events_));
    EXPECT_EQ(warnings.All(), "");
}

TEST_F(WebRoute, WithoutLibcurlOnlyThisRouteIsLostWithAWarning)
{
    net::SetCurlLibraryName("libcurl-not-installed.so.4");
    for (TWebMethod method : {wmHttp, wmHttps, wmFtp}) {
        UseHttp(method, 1, "upload");
        TWarningCollector warnings;
        int asked = 0;
        // The error event names the route that failed.
        const int route = method == wmFtp ? eeWebFTPError : method == wmHttps ? eeWebHTTPSError : eeWebHTTPError;
        events_.ErrorNotify = [&](int error) {
            EXPECT_EQ(error, route);
            return ++asked < 2;
        };
        EXPECT_FALSE(SendByWeb(options_, report_, nullptr, events_));
        EXPECT_EQ(asked, 2);
        const std::string protocol = method == wmFtp ? "FTP" : method == wmHttps ? "HTTPS" : "HTTP";
        EXPECT_EQ(LastWarning().Message.rfind(
                      protocol + " error code: -1 - Cannot find the \"libcurl-not-installed.so.4\" library.", 0),
                  0u)
            << LastWarning().Message;
        EXPECT_EQ(LastWarning().Code,
                  method == wmFtp         ? eeWebFTPError
                      : method == wmHttps ? eeWebHTTPSError
                                          : eeWebHTTPError);
    }
}

class FtpRoute : public WebRoute {
protected:
    void UseFtp(std::uint16_t port, const std::string& user, const std::string& password, const std::string& folder)
    {
        options_.SetWebMethod(wmFtp);
        options_.SetWebAddress("ftp://127.0.0.1/" + folder);
        options_.SetWebServerPort(port);
        options_.SetWebUser(user);
        options_.SetWebUserPassword(password);
    }
};

TEST_F(FtpRoute, UploadsEachExistingFileUnderItsAttachmentName)
{
    TPeerProcess peer(kPython, {PeerScript("ftp_peer.py"), store_.path(), "uploader", kWebPassword});
    ASSERT_NE(peer.Port(), 0) << peer.Output();
    UseFtp(peer.Port(), "uploader", kWebPassword, "reports");
    options_.SetSendFlags(options_.SendFlags() + TSendFlags{sfTimestampFileNames});
    report_.ExceptionTime = 38777.0 + (14 * 3600 + 5 * 60 + 9) / 86400.0;
    TWarningCollector warnings;
    EXPECT_TRUE(SendByWeb(options_, report_));
    EXPECT_EQ(warnings.All(), "");
    EXPECT_EQ(ReadFile(store_ / "home/reports/Screenshot_20060301140509.png"), png_);
    EXPECT_EQ(ReadFile(store_ / "home/reports/report_20060301140509.txt"), bin_);
    EXPECT_TRUE(FileExists(store_ / "home/reports/empty_20060301140509.log"));
    EXPECT_EQ(ReadFile(store_ / "home/reports/empty_20060301140509.log"), "");
}

TEST_F(FtpRoute, RefusedUploadCarriesTheServersReply)
{
    TPeerProcess peer(kPython, {PeerScript("ftp_peer.py"), store_.path(), "uploader", kWebPassword});
    ASSERT_NE(peer.Port(), 0) << peer.Output();
    UseFtp(peer.Port(), "reader", kWebPassword, "reports");
    TWarningCollector warnings;
    EXPECT_FALSE(SendByWeb(options_, report_));
    const TLastWarning last = LastWarning();
    EXPECT_EQ(last.Code, eeWebFTPError);
    EXPECT_EQ(last.Message.rfind("FTP error code: 12003 (550 ", 0), 0u) << last.Message;
    EXPECT_NE(last.Message.find("> PASS ********"), std::string::npos) << last.Message;
    EXPECT_FALSE(ShowsSecret(warnings.All(), kWebPassword)) << warnings.All();
    EXPECT_FALSE(FileExists(store_ / "home/reports/Screenshot.png"));
}

TEST_F(FtpRoute, WrongPasswordIsALogInFailureAndNeverShown)
{
    TPeerProcess peer(kPython, {PeerScript("ftp_peer.py"), store_.path(), "uploader", kWebPassword});
    ASSERT_NE(peer.Port(), 0) << peer.Output();
    const std::string wrong = "not-the-Pa55word";
    UseFtp(peer.Port(), "uploader", wrong, "reports");
    TWarningCollector warnings;
    EXPECT_FALSE(SendByWeb(options_, report_));
    EXPECT_EQ(LastWarning().Message.rfind("FTP error code: 12015 (530 ", 0), 0u) << LastWarning().Message;
    EXPECT_FALSE(ShowsSecret(warnings.All(), wrong)) << warnings.All();
}

} // namespace
