// Warnings: their message forms, the debugger output line, the last warning
// kept for the report, and the message box while sending.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crashreport/errorlog/errorlog_hooks.h"
#include "crashreport/errorlog/warnings.h"
#include "platform/rtl/exception.h"
#include "tests/crashreport/errorlog/warning_collector.h"

using namespace crashreport;

// Outside the anonymous namespace: the tests derived from it are not in one.
class Warnings : public ::testing::Test {
protected:
    void TearDown() override { SetSendingProgressWindow(0); }
    errorlog_testing::TWarningCollector collector_{{.MessageBoxes = true, .ExceptionAddress = 0x1234ABCD}};
};

TEST_F(Warnings, MessageFormsFollowTheExceptionBeingHandled)
{
    try {
        throw rtl::Exception("Connection refused");
    } catch (...) {
        Warning(eeEmailSMTPError, "SMTP");
    }
    EXPECT_EQ(LastWarning().Code, eeEmailSMTPError);
    EXPECT_EQ(LastWarning().Message, "[SMTP] Connection refused");
    try {
        throw 5;
    } catch (...) {
        Warning(eeShowError, "GUI");
    }
    EXPECT_EQ(LastWarning().Code, eeShowError);
    EXPECT_EQ(LastWarning().Message, "General 'GUI' error.");
    ASSERT_EQ(collector_.Lines().size(), 2u);
    EXPECT_EQ(collector_.Lines()[0],
              "[WARNING] - Code: eeEmailSMTPError - Address: 000000001234ABCD - "
              "Message: \"[SMTP] Connection refused\"");
    EXPECT_EQ(collector_.Lines()[1],
              "[WARNING] - Code: eeShowError - Address: 000000001234ABCD - Message: \"General 'GUI' error.\"");

    ClearWarning();
    EXPECT_EQ(LastWarning().Code, eeNone);
    EXPECT_EQ(LastWarning().Message, "");
}

TEST_F(Warnings, WithoutADebuggerOnlyTheLastWarningIsKept)
{
    collector_.SetDebugged(false);
    RecordWarning(eeLogError, "Cannot write the log");
    EXPECT_TRUE(collector_.Lines().empty());
    EXPECT_EQ(LastWarning().Code, eeLogError);
    EXPECT_EQ(LastWarning().Message, "Cannot write the log");
}

TEST_F(Warnings, SendingWarningsAreShownWhileTheSendingDialogIsOpen)
{
    RecordWarning(eeWebHTTPError, "HTTP 500"); // no dialog open
    EXPECT_TRUE(collector_.Boxes().empty());

    SetSendingProgressWindow(0x2A00001);
    RecordWarning(eeLogError, "Cannot write the log"); // not a sending step
    RecordWarning(eeEmailMAPIError, "No MAPI");        // below the sending codes
    EXPECT_TRUE(collector_.Boxes().empty());
    for (TTavrelLogErrorCode code : {eeEmailSMTPError, eeWebHTTPError, eeWebHTTPSError, eeWebFTPError})
        RecordWarning(code, LogErrorCodeName(code));
    ASSERT_EQ(collector_.Boxes().size(), 4u);
    EXPECT_EQ(collector_.Boxes()[1], "Error.|eeWebHTTPError|" + std::to_string(0x10 | 0x2000 | 0x40000 | 0x200000));
    EXPECT_EQ(collector_.Boxes()[3], "Error.|eeWebFTPError|" + std::to_string(0x10 | 0x2000 | 0x40000 | 0x200000));
}
