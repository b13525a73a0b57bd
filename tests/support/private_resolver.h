#pragma once
// A private resolver configuration for a test child: the calling process
// moves into a mount namespace of its own (in a user namespace of its own
// when it is not root) where /etc/resolv.conf names the loopback name
// server only, so the system resolver asks nothing beyond this machine.
// Call it in a forked, single-threaded child (a user namespace cannot be
// entered by a process with threads). Header-only.
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace vektest {

namespace detail {

inline bool WriteWhole(const std::string& path, const std::string& text)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool done = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    return close(fd) == 0 && done;
}

// Writes `text` to `file` and mounts it over `target`. Without a file at
// `target` the system's default holds, which for both files asks nothing
// beyond this machine.
inline bool BindPrivateFile(const std::string& file, const std::string& text, const char* target)
{
    FILE* out = std::fopen(file.c_str(), "w");
    if (out == nullptr) return false;
    std::fputs(text.c_str(), out);
    if (std::fclose(out) != 0) return false;
    if (access(target, F_OK) != 0) return true;
    return mount(file.c_str(), target, nullptr, MS_BIND, nullptr) == 0;
}

} // namespace detail

// False when the private configuration could not be set up (the caller
// skips its test). `folder` holds the replacement files while mounted.
inline bool UseLoopbackResolver(const std::string& folder)
{
    const uid_t uid = getuid();
    const gid_t gid = getgid();
    if (unshare(uid == 0 ? CLONE_NEWNS : CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
    if (uid != 0) {
        // Root inside the namespace is this user outside it.
        if (!detail::WriteWhole("/proc/self/setgroups", "deny") ||
            !detail::WriteWhole("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
            !detail::WriteWhole("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
            return false;
    }
    // Mounts made here must not reach the machine's own namespace.
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
    // Host names go to /etc/hosts and then to the loopback name server,
    // never to a resolver daemon that would ask further out for us.
    return detail::BindPrivateFile(folder + "/resolv.conf", "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n",
                                   "/etc/resolv.conf") &&
        detail::BindPrivateFile(folder + "/nsswitch.conf", "hosts: files dns\n", "/etc/nsswitch.conf");
}

} // namespace vektest
