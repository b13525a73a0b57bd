// The mail program route: a fake "xdg-email" and "xdg-open" found on the
// test's own PATH record what they are handed and copy the attachments, so
// the test sees what a mail program would get.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "crashreport/errorlog/warnings.h"
#include "crashreport/delivery/mail_delivery.h"
#include "crashreport/options/module_options.h"
#include "delivery_test_support.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace crashreport;
using namespace crashreport::delivery;
using testing_support::ReadFile;
using testing_support::TempDir;

// Records each argument on a line of its own ("\0" separated in args) and
// copies every --attach file into <dir>/got/.
const char* kFakeEmail = R"(#!/bin/sh
out="%DIR%"
mkdir -p "$out/got"
: > "$out/email_args"
while [ $# -gt 0 ]; do
  printf '%s\0' "$1" >> "$out/email_args"
  if [ "$1" = "--attach" ]; then cp "$2" "$out/got/"; printf '%s\0' "$2" >> "$out/email_args"; shift; fi
  shift
done
exit %CODE%
)";

const char* kFakeOpen = R"(#!/bin/sh
printf '%s' "$1" > "%DIR%/open_args"
exit 0
)";

std::vector<std::string> Split0(const std::string& text)
{
    std::vector<std::string> parts;
    std::size_t start = 0, end;
    while ((end = text.find('\0', start)) != std::string::npos) {
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

class MailProgramRoute : public ::testing::Test {
protected:
    MailProgramRoute() : options_("", false)
    {
        const char* path = std::getenv("PATH");
        savedPath_ = path ? path : "";
        ::setenv("PATH", (bin_.path() + ":/usr/bin:/bin").c_str(), 1);
        options_.SetMailMethod(mmMailClient);
        options_.SetMailRecipients("dev@vek.invalid; -oProxyCommand=evil; ops@vek.invalid");
        options_.SetMailSubject("Crash\r\nreport");
        options_.SetMailBody("The program stopped.");
        options_.SetAppendLogToMail(true);
        report_.LogText = "log text";
        report_.ReportText = "the full report";
    }
    ~MailProgramRoute() override { ::setenv("PATH", savedPath_.c_str(), 1); }

    void Install(const std::string& name, std::string script, int code = 0)
    {
        for (std::size_t at; (at = script.find("%DIR%")) != std::string::npos;) script.replace(at, 5, out_.path());
        if (const std::size_t at = script.find("%CODE%"); at != std::string::npos)
            script.replace(at, 6, std::to_string(code));
        testing_support::WriteFile(bin_ / name, script);
        ::chmod((bin_ / name).c_str(), 0755);
    }

    TTavrelModuleOptions options_;
    TDeliveryReport report_;
    TempDir bin_, out_, files_;
    std::string savedPath_;
};

TEST_F(MailProgramRoute, HandsMessageAndAttachmentsToTheMailProgram)
{
    Install("xdg-email", kFakeEmail, 0);
    Install("xdg-open", kFakeOpen);
    const std::string png = delivery_testing::PatternBytes(4000, 9);
    testing_support::WriteFile(files_ / "Screenshot.png", png);
    testing_support::WriteFile(files_ / "report.txt", "report");
    report_.Attachments = {files_ / "Screenshot.png", files_ / "gone.bin", files_ / "report.txt"};
    delivery_testing::TWarningCollector warnings;

    EXPECT_TRUE(SendByEmail(options_, report_));
    EXPECT_EQ(warnings.All(), "");
    const std::vector<std::string> expected = {"--utf8",
                                               "--subject",
                                               "Crash report",
                                               "--body",
                                               "The program stopped.\r\n\r\n\r\nlog text",
                                               "--attach",
                                               files_ / "Screenshot.png",
                                               "--attach",
                                               files_ / "report.txt",
                                               "dev@vek.invalid",
                                               "ops@vek.invalid"};
    EXPECT_EQ(Split0(ReadFile(out_ / "email_args")), expected);
    EXPECT_EQ(ReadFile(out_ / "got/Screenshot.png"), png);
    EXPECT_EQ(ReadFile(out_ / "got/report.txt"), "report");
    EXPECT_FALSE(testing_support::FileExists(out_ / "open_args"));
}

TEST_F(MailProgramRoute, FailedHandOffFallsBackToTheMailtoAddress)
{
    Install("xdg-email", kFakeEmail, 3);
    Install("xdg-open", kFakeOpen);
    delivery_testing::TWarningCollector warnings;
    EXPECT_TRUE(SendByEmail(options_, report_));
    ASSERT_EQ(warnings.Lines().size(), 1u) << warnings.All();
    EXPECT_NE(warnings.Lines()[0].find("Code: eeEmailMAPIError"), std::string::npos);
    EXPECT_NE(warnings.Lines()[0].find("Message: \"Cannot send the MAPI message.\""), std::string::npos);
    EXPECT_EQ(ReadFile(out_ / "open_args"),
              MailtoAddress(options_.MailRecipients(), options_.MailSubject(),
                            "The program stopped.\r\n\r\n\r\nthe full report"));
    EXPECT_EQ(ReadFile(out_ / "open_args")
                  .rfind("mailto:dev@vek.invalid,-oProxyCommand%3Devil,ops@vek.invalid?Subject=Crash%0D%0Areport&Body="
                         "The%20program",
                         0),
              0u)
        << ReadFile(out_ / "open_args");
}

TEST_F(MailProgramRoute, NoMailProgramAtAllGivesBothWarningsAndFalse)
{
    ::setenv("PATH", bin_.path().c_str(), 1); // nothing in it
    delivery_testing::TWarningCollector warnings;
    EXPECT_FALSE(SendByEmail(options_, report_));
    ASSERT_EQ(warnings.Lines().size(), 2u) << warnings.All();
    EXPECT_NE(warnings.Lines()[0].find("Code: eeEmailMAPIError"), std::string::npos);
    EXPECT_NE(warnings.Lines()[0].find("Message: \"Cannot open the MAPI dll.\""), std::string::npos);
    EXPECT_NE(warnings.Lines()[1].find("Code: eeEmailShellError"), std::string::npos);
    EXPECT_NE(warnings.Lines()[1].find("Message: \"No such file or directory\""), std::string::npos);
    EXPECT_EQ(LastWarning().Code, eeEmailShellError);
}

TEST_F(MailProgramRoute, SecondFormSplitsTheAttachmentText)
{
    Install("xdg-email", kFakeEmail, 0);
    testing_support::WriteFile(files_ / "a.log", "A");
    testing_support::WriteFile(files_ / "b.log", "B");
    EXPECT_TRUE(SendViaMAPI("x@vek.invalid", "s", "b", files_ / "a.log" + " ; " + files_ / "b.log", false));
    EXPECT_EQ(ReadFile(out_ / "got/a.log"), "A");
    EXPECT_EQ(ReadFile(out_ / "got/b.log"), "B");
}

} // namespace
