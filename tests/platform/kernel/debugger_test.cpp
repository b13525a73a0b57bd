// The debugger test and the debugger output channel, in children that run
// traced by their parent and untraced.
#include <gtest/gtest.h>

#include <string>

#include "platform/kernel/debugger.h"
#include "tests/support/child_process.h"

namespace {

using vektest::RunTracedChild;

int ReportAndSay()
{
    kernel::OutputDebugString("[WARNING] - a line for the debugger");
    return kernel::IsDebuggerPresent() ? 1 : 0;
}

} // namespace

TEST(Debugger, ATracedProcessIsDebuggedAndItsOutputIsOneStderrLine)
{
    const auto traced = RunTracedChild(true, &ReportAndSay);
    EXPECT_EQ(traced.ExitCode, 1);
    EXPECT_EQ(traced.Stderr, "[WARNING] - a line for the debugger\n");
}

TEST(Debugger, WithoutATracerNothingIsWritten)
{
    const auto plain = RunTracedChild(false, &ReportAndSay);
    EXPECT_EQ(plain.ExitCode, 0);
    EXPECT_EQ(plain.Stderr, "");
}

TEST(Debugger, LongLinesArriveWhole)
{
    const auto traced = RunTracedChild(true, [] {
        kernel::OutputDebugString(std::string(5000, 'x'));
        return 0;
    });
    EXPECT_EQ(traced.Stderr, std::string(5000, 'x') + "\n");
}
