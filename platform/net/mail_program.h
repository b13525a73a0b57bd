#pragma once
// The hand-off to the desktop's mail program: "xdg-email" with the
// attachments, or "xdg-open" with a "mailto:" address, looked up on PATH
// when they are needed. The child runs in its own process; TChildProcess
// owns it until it has ended.
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace net {

class TChildProcess {
public:
    TChildProcess() = default;
    explicit TChildProcess(pid_t pid) : pid_(pid) {}
    TChildProcess(TChildProcess&& other) noexcept : pid_(other.pid_) { other.pid_ = -1; }
    TChildProcess& operator=(TChildProcess&&) = delete;
    TChildProcess(const TChildProcess&) = delete;
    ~TChildProcess();

    pid_t Pid() const { return pid_; }
    // Waits up to waitMs for the child to end; true with its exit status
    // (or 128 + signal) when it did.
    bool Wait(std::uint32_t waitMs, int& exitCode);
    // Leaves a child that is still running (a mail program the user keeps
    // open) to run on; it is collected when it ends.
    void Detach();

private:
    pid_t pid_ = -1;
};

struct TProgramRun {
    bool Started = false;
    std::string Error;  // why it could not start: the system's text
    bool Ended = false; // it ended within the wait
    int ExitCode = -1;
};

// Runs program (looked up on PATH) with the arguments, its standard input
// from /dev/null, and waits up to waitMs for it to end.
TProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments, std::uint32_t waitMs);

// Whether program is an executable file on PATH.
bool ProgramOnPath(const std::string& program);

} // namespace net
