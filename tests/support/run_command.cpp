#include "tests/support/run_command.h"

#include <sys/wait.h>

#include <cstdio>

namespace testing_support {

std::string RunCommand(const std::string& command, int* status)
{
    const TCommandResult result = RunShell(command);
    if (status) *status = result.ExitCode;
    return result.Output;
}

TCommandResult RunShell(const std::string& command)
{
    TCommandResult result;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return result;
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.Output.append(buffer, n);
    const int status = ::pclose(pipe);
    result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string ShellLine(const std::string& command)
{
    std::string out = RunShell(command).Output;
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

std::string ShellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

bool HaveProgram(const std::string& name)
{
    return RunShell("command -v " + ShellQuote(name) + " >/dev/null 2>&1").ExitCode == 0;
}

} // namespace testing_support
