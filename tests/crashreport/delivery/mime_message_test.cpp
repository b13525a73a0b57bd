// The MIME message and its pieces: the header in its order, the text part,
// attachment parts with 80-character base64 lines, the closing boundary,
// non-ASCII text, the DATA transparency and the recipient list.
#include <gtest/gtest.h>

#include "crashreport/codecs/base64.h"
#include "crashreport/delivery/mail_delivery.h"
#include "crashreport/delivery/mime_message.h"
#include "delivery_test_support.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace crashreport::delivery;

const std::string kBoundary = "=_xcjvnxkbhvfkxzhfdbvzldjhfv";

TMailMessage Sample()
{
    TMailMessage m;
    m.Date = "Tue, 8 Dec 2026 06:18:30 +0100";
    m.Sender = "app@ex.com";
    m.Recipient = "dev@ex.com";
    m.Subject = "Crash";
    m.Body = "Hello\r\nReport follows";
    m.Tick = 12345;
    return m;
}

TEST(MailMessage, WithoutAttachmentsIsHeaderTextPartAndClosingBoundary)
{
    EXPECT_EQ(BuildMailMessage(Sample()),
              "Date: Tue, 8 Dec 2026 06:18:30 +0100\r\n"
              "From: <app@ex.com>\r\n"
              "Subject: Crash\r\n"
              "To: <dev@ex.com>\r\n"
              "Content-Type: multipart/mixed; boundary=\"" +
                  kBoundary +
                  "\";\r\n"
                  "MIME-Version: 1.0\r\n"
                  "Message-ID: <12345@tavrellog.invalid>\r\n"
                  "\r\n"
                  "This is a multi-part message in MIME format\r\n\r\n--" +
                  kBoundary +
                  "\r\n"
                  "Content-Type: text/plain\r\nContent-Transfer-Encoding: 7bit\r\n\r\n"
                  "Hello\r\nReport follows\r\n"
                  "--" +
                  kBoundary + "--\r\n");
}

TEST(MailMessage, HeaderFieldsCannotBeSplitByLineBreaks)
{
    TMailMessage m = Sample();
    m.Subject = "Crash\r\nBcc: victim@ex.com";
    m.Sender = "app@ex.com>\r\nX-Evil: 1";
    m.Recipient = "dev@ex.com\n\nbody";
    const std::string text = BuildMailMessage(m);
    EXPECT_NE(text.find("\r\nSubject: Crash Bcc: victim@ex.com\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\nFrom: <app@ex.com> X-Evil: 1>\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\nTo: <dev@ex.com body>\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("\r\nBcc:"), std::string::npos);
}

TEST(MailMessage, NonAsciiSubjectAndBodyAreDeclaredUtf8)
{
    TMailMessage m = Sample();
    m.Subject = "Absturz \xC3\xBC\xE5\xB4\xA9\xE6\xBA\x83";
    m.Body = "Gr\xC3\xBC\xC3\x9F"
             "e";
    const std::string text = BuildMailMessage(m);
    EXPECT_NE(text.find("Subject: =?UTF-8?B?"), std::string::npos) << text;
    EXPECT_NE(text.find("Content-Type: text/plain; charset=\"utf-8\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
                        crashreport::codecs::EncodeBase64(m.Body) + "\r\n"),
              std::string::npos)
        << text;
    for (unsigned char c : text) ASSERT_LT(c, 128) << "8-bit byte in the message";
}

TEST(MailMessage, LongSubjectIsCutBetweenCharacters)
{
    TMailMessage m = Sample();
    for (int i = 0; i < 40; ++i) m.Subject += "\xE5\xB4\xA9"; // 3-byte characters
    const std::string text = BuildMailMessage(m);
    const std::size_t start = text.find("Subject: ");
    const std::string header = text.substr(start, text.find("\r\nTo:") - start);
    std::string decoded;
    std::size_t at = 0;
    while ((at = header.find("=?UTF-8?B?", at)) != std::string::npos) {
        const std::size_t end = header.find("?=", at);
        const auto bytes = crashreport::codecs::DecodeBase64(header.substr(at + 10, end - at - 10));
        // Each word holds whole characters: none begins inside one.
        ASSERT_FALSE(bytes.empty());
        EXPECT_NE(bytes[0] & 0xC0, 0x80);
        decoded.append(bytes.begin(), bytes.end());
        at = end;
    }
    EXPECT_EQ(decoded, m.Subject);
    for (std::size_t line = 0, next; line < header.size(); line = next + 2) {
        next = header.find("\r\n", line);
        if (next == std::string::npos) next = header.size();
        EXPECT_LE(next - line, 76u);
    }
}

TEST(MailAttachments, Base64LinesOf80WithTheShortLastLineBare)
{
    testing_support::TempDir dir;
    testing_support::WriteFile(dir / "a120", delivery_testing::PatternBytes(120, 1));
    testing_support::WriteFile(dir / "a100", delivery_testing::PatternBytes(100, 2));
    const std::string lines120 = EncodeBase64Lines(dir / "a120");
    ASSERT_EQ(lines120.size(), 164u);
    EXPECT_EQ(lines120.substr(80, 2), "\r\n");
    EXPECT_EQ(lines120.substr(162), "\r\n");
    const std::string lines100 = EncodeBase64Lines(dir / "a100");
    ASSERT_EQ(lines100.size(), 138u);
    EXPECT_EQ(lines100.substr(80, 2), "\r\n");
    EXPECT_EQ(lines100.find("\r\n", 82), std::string::npos);
    EXPECT_EQ(EncodeBase64Lines(dir / "missing"), "");
    EXPECT_EQ(EncodeBase64Lines("  "), "");
}

TEST(MailAttachments, PartsForExistingFilesOnlyWithTheirTypes)
{
    testing_support::TempDir dir;
    testing_support::WriteFile(dir / "Shot.png", "PNGDATA");
    testing_support::WriteFile(dir / "log.txt", "abc");
    const std::string parts = BuildAttachmentParts({{dir / "Shot.png", "Shot_20060301140509.PNG"},
                                                    {dir / "gone.bin", "gone.bin"},
                                                    {dir / "log.txt", "log.txt"},
                                                    {dir / "log.txt", " "}});
    EXPECT_EQ(parts,
              "\r\n--" + kBoundary +
                  "\r\nContent-Type: image/png;\r\n"
                  "        name=\"Shot_20060301140509.PNG\"\r\n"
                  "Content-Transfer-Encoding: base64\r\n"
                  "Content-Disposition: attachment;\r\n"
                  "        filename=\"Shot_20060301140509.PNG\"\r\n"
                  "\r\n"
                  "UE5HREFUQQ==\r\n"
                  "\r\n--" +
                  kBoundary +
                  "\r\nContent-Type: application/octet-stream;\r\n"
                  "        name=\"log.txt\"\r\n"
                  "Content-Transfer-Encoding: base64\r\n"
                  "Content-Disposition: attachment;\r\n"
                  "        filename=\"log.txt\"\r\n"
                  "\r\n"
                  "YWJj\r\n");
}

TEST(MailAttachments, NamesAreTimeStampedWhenAsked)
{
    // 2006-03-01 14:05:09 as a day count.
    const double when = 38777.0 + (14 * 3600 + 5 * 60 + 9) / 86400.0;
    const auto list = MailAttachments({"/tmp/x/Screenshot.png", "/tmp/y/report.txt"}, true, when);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].Name, "Screenshot_20060301140509.png");
    EXPECT_EQ(list[1].Path, "/tmp/y/report.txt");
    EXPECT_EQ(MailAttachments({"/tmp/x/Screenshot.png"}, false, when)[0].Name, "Screenshot.png");
}

TEST(SmtpData, LinesBeginningWithADotAreDoubledAndLoneLineEndsBecomeCrLf)
{
    EXPECT_EQ(SmtpDataText("a\r\n.\r\n..b\r\n.c\r\n"), "a\r\n..\r\n...b\r\n..c\r\n.\r\n");
    EXPECT_EQ(SmtpDataText(".first\r\n"), "..first\r\n.\r\n");
    // A lone LF followed by a dot must not end the data on a lenient server.
    EXPECT_EQ(SmtpDataText("x\n.\ny\rz\r\n"), "x\r\n..\r\ny\r\nz\r\n.\r\n");
    EXPECT_EQ(SmtpDataText("no end"), "no end\r\n.\r\n");
}

TEST(Recipients, SplitOnCommasAndSemicolonsTrimmedWithoutEmptyEntries)
{
    const std::vector<std::string> expected = {"a@x.com", "b@y.com"};
    EXPECT_EQ(SplitRecipients(" a@x.com, b@y.com;"), expected);
    EXPECT_EQ(SplitRecipients("a@x.com;;\t;b@y.com "), expected);
    EXPECT_TRUE(SplitRecipients(" ; , ").empty());
}

TEST(MailtoAddress, SubjectAndBodyArePercentEncodedAndAddressesCannotAddFields)
{
    EXPECT_EQ(PercentEncode("A z-1\r\n\xC3\xBC%&"), "A%20z-1%0D%0A\xC3\xBC%25%26");
    EXPECT_EQ(MailtoAddress("a@x.com; b+c@y.com", "Crash report", "Line 1\r\nLine 2"),
              "mailto:a@x.com,b+c@y.com?Subject=Crash%20report&Body=Line%201%0D%0ALine%202");
    EXPECT_EQ(MailtoAddress("a@x.com?attach=/etc/passwd", "s", "b"),
              "mailto:a@x.com%3Fattach%3D%2Fetc%2Fpasswd?Subject=s&Body=b");
}

} // namespace
