#pragma once
// Runs a piece of test code in a forked child process, with its standard
// output and error collected, and a time limit: a child that hangs is killed
// by SIGALRM and the result says so, so a deadlock fails a test instead of
// hanging the suite. Header-only.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

namespace vektest {

struct TChildResult {
    bool Exited = false;
    int ExitCode = -1;
    bool Signaled = false;
    int Signal = 0;
    std::string Output; // stdout and stderr, interleaved
    bool TimedOut() const { return Signaled && Signal == SIGALRM; }
};

inline TChildResult RunInChild(const std::function<int()>& body, unsigned timeoutSeconds = 30)
{
    TChildResult result;
    int fds[2];
    if (pipe(fds) != 0) return result;
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        dup2(fds[1], 1);
        dup2(fds[1], 2);
        close(fds[1]);
        setvbuf(stdout, nullptr, _IONBF, 0);
        signal(SIGALRM, SIG_DFL);
        alarm(timeoutSeconds);
        const int code = body();
        std::fflush(stdout);
        _exit(code);
    }
    close(fds[1]);
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n > 0)
            result.Output.append(buffer, static_cast<std::size_t>(n));
        else if (n == 0 || errno != EINTR)
            break;
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    if (WIFEXITED(status)) {
        result.Exited = true;
        result.ExitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.Signaled = true;
        result.Signal = WTERMSIG(status);
    }
    return result;
}

// Writes text to standard output with write(2): usable in signal handlers
// and while the allocator is not.
inline void WriteOut(const char* text)
{
    std::size_t n = 0;
    while (text[n]) ++n;
    ssize_t ignored = write(1, text, n);
    (void)ignored;
}

} // namespace vektest
