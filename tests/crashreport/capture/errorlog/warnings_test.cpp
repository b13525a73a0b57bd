// Warnings: their message forms, the debugger output line, the last warning
// kept for the report, and the message box while sending.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crashreport/capture/errorlog/errorlog_hooks.h"
#include "crashreport/capture/errorlog/warnings.h"
#include "platform/rtl/exception.h"

using namespace crashreport;

namespace {

bool g_debugged = true;
std::vector<std::string> g_output;
std::vector<std::string> g_boxes;

bool Debugged() { return g_debugged; }
void Output(std::string_view line) { g_output.emplace_back(line); }
int Box(const std::string& text, const std::string& caption, unsigned flags)
{
    g_boxes.push_back(caption + "|" + text + "|" + std::to_string(flags));
    return 1;
}
const void* Address() { return reinterpret_cast<const void*>(0x1234ABCD); }

class Warnings : public ::testing::Test {
protected:
    void SetUp() override
    {
        TErrorLogHooks hooks;
        hooks.DebuggerPresent = &Debugged;
        hooks.DebugOutput = &Output;
        hooks.MessageBox = &Box;
        hooks.ExceptionAddress = &Address;
        previous_ = SetErrorLogHooks(hooks);
        g_debugged = true;
        g_output.clear();
        g_boxes.clear();
        ClearWarning();
    }
    void TearDown() override
    {
        SetErrorLogHooks(previous_);
        SetSendingProgressWindow(0);
        ClearWarning();
    }
    TErrorLogHooks previous_;
};

} // namespace

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
    ASSERT_EQ(g_output.size(), 2u);
    EXPECT_EQ(g_output[0],
              "[WARNING] - Code: eeEmailSMTPError - Address: 000000001234ABCD - "
              "Message: \"[SMTP] Connection refused\"");
    EXPECT_EQ(g_output[1],
              "[WARNING] - Code: eeShowError - Address: 000000001234ABCD - Message: \"General 'GUI' error.\"");

    ClearWarning();
    EXPECT_EQ(LastWarning().Code, eeNone);
    EXPECT_EQ(LastWarning().Message, "");
}

TEST_F(Warnings, WithoutADebuggerOnlyTheLastWarningIsKept)
{
    g_debugged = false;
    RecordWarning(eeLogError, "Cannot write the log");
    EXPECT_TRUE(g_output.empty());
    EXPECT_EQ(LastWarning().Code, eeLogError);
    EXPECT_EQ(LastWarning().Message, "Cannot write the log");
}

TEST_F(Warnings, SendingWarningsAreShownWhileTheSendingDialogIsOpen)
{
    RecordWarning(eeWebHTTPError, "HTTP 500"); // no dialog open
    EXPECT_TRUE(g_boxes.empty());

    SetSendingProgressWindow(0x2A00001);
    RecordWarning(eeLogError, "Cannot write the log"); // not a sending step
    RecordWarning(eeEmailMAPIError, "No MAPI");        // below the sending codes
    EXPECT_TRUE(g_boxes.empty());
    for (TTavrelLogErrorCode code : {eeEmailSMTPError, eeWebHTTPError, eeWebHTTPSError, eeWebFTPError})
        RecordWarning(code, LogErrorCodeName(code));
    ASSERT_EQ(g_boxes.size(), 4u);
    EXPECT_EQ(g_boxes[1], "Error.|eeWebHTTPError|" + std::to_string(0x10 | 0x2000 | 0x40000 | 0x200000));
    EXPECT_EQ(g_boxes[3], "Error.|eeWebFTPError|" + std::to_string(0x10 | 0x2000 | 0x40000 | 0x200000));
}
