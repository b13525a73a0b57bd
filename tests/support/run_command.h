#pragma once
// Runs shell commands for tests and collects what they print. No window
// toolkit: usable by the tests of every layer.
#include <string>

namespace testing_support {

// Runs a shell command; returns its standard output (and its error output
// when the command merges it with 2>&1), sets status to its exit status
// (-1 when it did not exit normally or could not start).
std::string RunCommand(const std::string& command, int* status = nullptr);

// The same as a value: the exit status and the output.
struct TCommandResult {
    int ExitCode = -1;
    std::string Output;
};
TCommandResult RunShell(const std::string& command);

// The standard output of a command that prints one value, without its last
// line end.
std::string ShellLine(const std::string& command);

// Single-quoted for the shell.
std::string ShellQuote(const std::string& text);

// Whether the shell finds a program of that name.
bool HaveProgram(const std::string& name);

} // namespace testing_support
