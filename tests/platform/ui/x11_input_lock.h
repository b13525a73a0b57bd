#pragma once
// Tests that move the pointer, type with xdotool or rely on the keyboard
// focus share one X server with every other such test that the suite runs
// in parallel. They take this lock (one per display) for their duration.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace testing_support {

class X11InputLock {
public:
    X11InputLock()
    {
        const char* tmp = std::getenv("TMPDIR");
        const char* display = std::getenv("DISPLAY");
        std::string name = display ? display : "none";
        for (char& c : name)
            if (c == '/' || c == ':') c = '_';
        const std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/vek-x11-input" + name + ".lock";
        fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd_ >= 0) flock(fd_, LOCK_EX);
    }
    ~X11InputLock()
    {
        if (fd_ >= 0) {
            flock(fd_, LOCK_UN);
            close(fd_);
        }
    }
    X11InputLock(const X11InputLock&) = delete;
    X11InputLock& operator=(const X11InputLock&) = delete;

private:
    int fd_ = -1;
};

} // namespace testing_support
