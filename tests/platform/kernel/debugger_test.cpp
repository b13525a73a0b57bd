// The debugger test and the debugger output channel, in children that run
// traced by their parent and untraced.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/kernel/debugger.h"

namespace {

struct TChildResult {
    int ExitCode = -1;
    std::string Stderr;
};

// Runs body in a child whose stderr is a pipe; with `traced` the parent
// attaches as its tracer first and lets every stop go on. The child's exit
// code is body's answer.
TChildResult RunChild(bool traced, int (*body)())
{
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return {};
    const pid_t child = fork();
    if (child == 0) {
        dup2(pipeFds[1], STDERR_FILENO);
        close(pipeFds[0]);
        close(pipeFds[1]);
        if (traced) {
            ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
            raise(SIGSTOP); // wait until the parent is tracing
        }
        _exit(body());
    }
    close(pipeFds[1]);
    TChildResult result;
    int status = 0;
    for (;;) {
        if (waitpid(child, &status, 0) != child) break;
        if (WIFEXITED(status)) {
            result.ExitCode = WEXITSTATUS(status);
            break;
        }
        if (WIFSIGNALED(status)) break;
        if (WIFSTOPPED(status)) {
            const int signal = WSTOPSIG(status);
            ptrace(PTRACE_CONT, child, nullptr, signal == SIGSTOP ? 0 : signal);
        }
    }
    char buffer[4096];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        result.Stderr.append(buffer, static_cast<std::size_t>(n));
    close(pipeFds[0]);
    return result;
}

int ReportAndSay()
{
    kernel::OutputDebugString("[WARNING] - a line for the debugger");
    return kernel::IsDebuggerPresent() ? 1 : 0;
}

} // namespace

TEST(Debugger, ATracedProcessIsDebuggedAndItsOutputIsOneStderrLine)
{
    const TChildResult traced = RunChild(true, &ReportAndSay);
    EXPECT_EQ(traced.ExitCode, 1);
    EXPECT_EQ(traced.Stderr, "[WARNING] - a line for the debugger\n");
}

TEST(Debugger, WithoutATracerNothingIsWritten)
{
    const TChildResult plain = RunChild(false, &ReportAndSay);
    EXPECT_EQ(plain.ExitCode, 0);
    EXPECT_EQ(plain.Stderr, "");
}

TEST(Debugger, LongLinesArriveWhole)
{
    const TChildResult traced = RunChild(true, [] {
        kernel::OutputDebugString(std::string(5000, 'x'));
        return 0;
    });
    EXPECT_EQ(traced.Stderr, std::string(5000, 'x') + "\n");
}
