#pragma once
// Runs a piece of test code in a forked child process, with its standard
// output and error collected, and a time limit: a child that hangs has every
// thread's stack written into its output by gdb and is then killed by
// SIGALRM, and the result says so, so a deadlock fails a test with its
// evidence instead of hanging the suite. Header-only.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

namespace vektest {

struct TChildResult {
    bool Exited = false;
    int ExitCode = -1;
    bool Signaled = false;
    int Signal = 0;
    std::string Output; // stdout and stderr, interleaved
    bool TimedOut() const { return Signaled && Signal == SIGALRM; }
};

// Every thread's stack of a running process, as gdb in batch mode prints
// it (a process of ours that allowed tracing); empty without gdb.
inline std::string ThreadStacksOf(pid_t pid)
{
    const std::string command = "timeout 60 gdb -nx -batch -p " + std::to_string(pid) +
        " -ex 'set pagination off' -ex 'thread apply all bt' 2>&1";
    std::string text;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
        pclose(pipe);
    }
    return text;
}

// The child's end of the time limit: any process of ours may read its
// threads (gdb for the evidence of a hang), and SIGALRM ends it some time
// after the parent looked, should it not end otherwise.
inline void LimitChildTime(unsigned timeoutSeconds)
{
    prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY, 0, 0, 0);
    signal(SIGALRM, SIG_DFL);
    alarm(timeoutSeconds + 120);
}

// `started` runs in this process once the child exists: a thread that must
// run beside the child is started there, not before the fork (a fork while
// another thread is inside the allocator leaves the child's allocator locked).
inline TChildResult RunInChild(const std::function<int()>& body, unsigned timeoutSeconds = 30,
                               const std::function<void()>& started = {})
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
        LimitChildTime(timeoutSeconds);
        const int code = body();
        std::fflush(stdout);
        _exit(code);
    }
    close(fds[1]);
    if (started) started();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    char buffer[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd ready{fds[0], POLLIN, 0};
        const int polled = left.count() > 0 ? poll(&ready, 1, static_cast<int>(left.count())) : 0;
        if (polled < 0 && errno == EINTR) continue;
        if (polled == 0) {
            result.Output += "\n== the child did not end within " + std::to_string(timeoutSeconds) +
                " s; its threads:\n" + ThreadStacksOf(pid);
            kill(pid, SIGALRM);
            break;
        }
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

// How a child run by RunTracedChild ended, and its two output streams apart.
struct TTracedChildResult {
    bool Exited = false;
    int ExitCode = -1;
    bool Signaled = false;
    int Signal = 0;
    std::string Stdout, Stderr;
    bool TimedOut() const { return Signaled && Signal == SIGALRM; }
};

namespace detail {

// Reads two pipes until both are closed, and closes them.
inline void ReadBothPipes(int outFd, int errFd, std::string& out, std::string& err)
{
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    std::string* sinks[2] = {&out, &err};
    int open = 2;
    char buffer[4096];
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1; // poll skips it from now on
                --open;
            }
        }
    }
    for (const pollfd& p : fds)
        if (p.fd >= 0) close(p.fd);
}

} // namespace detail

// Runs body in a forked child with its standard output and error on two
// pipes and the same time limit as RunInChild. With `traced` the child asks
// this process to trace it and stops itself before body; every stop is let
// go on, with its signal handed back except the tracing's own SIGSTOP and the
// SIGTRAP of an exec. body may exec another program (the alarm stays set
// across exec). The pipes are read by a second thread while this one waits
// for the child's stops, so a child that writes more than a pipe holds does
// not stall; the tracing itself stays on the thread that forked, as ptrace
// requires.
inline TTracedChildResult RunTracedChild(bool traced, const std::function<int()>& body, unsigned timeoutSeconds = 30)
{
    TTracedChildResult result;
    int out[2], err[2];
    if (pipe(out) != 0) return result;
    if (pipe(err) != 0) {
        close(out[0]);
        close(out[1]);
        return result;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(out[0]), close(out[1]), close(err[0]), close(err[1]);
        signal(SIGALRM, SIG_DFL);
        alarm(timeoutSeconds);
        if (traced) {
            ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
            raise(SIGSTOP); // waits until the parent is tracing
        }
        const int code = body();
        std::fflush(stdout);
        _exit(code);
    }
    close(out[1]);
    close(err[1]);
    if (pid < 0) {
        close(out[0]);
        close(err[0]);
        return result;
    }
    std::thread reader(detail::ReadBothPipes, out[0], err[0], std::ref(result.Stdout), std::ref(result.Stderr));
    int status = 0;
    for (;;) {
        if (waitpid(pid, &status, 0) != pid) {
            if (errno == EINTR) continue;
            break;
        }
        if (WIFEXITED(status)) {
            result.Exited = true;
            result.ExitCode = WEXITSTATUS(status);
            break;
        }
        if (WIFSIGNALED(status)) {
            result.Signaled = true;
            result.Signal = WTERMSIG(status);
            break;
        }
        if (WIFSTOPPED(status)) {
            const int signal = WSTOPSIG(status);
            ptrace(PTRACE_CONT, pid, nullptr, signal == SIGSTOP || signal == SIGTRAP ? 0 : signal);
        }
    }
    reader.join();
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
