// Preloaded into vek2avi by its reporter test: with VEK_FAULT_AFTER set, the
// program's writes (writev) to the AVI file fault (a write to an unmapped
// address), standing in for a defect inside the converter. Other writes pass
// to the C library.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/uio.h>

namespace {

int* volatile g_nowhere = reinterpret_cast<int*>(0x30);

void FaultWhenTheAviIsLong(int fd)
{
    static long limit = [] {
        const char* v = std::getenv("VEK_FAULT_AFTER");
        return v ? std::atol(v) : -1L;
    }();
    if (limit >= 0 && fd > 2) {
        char link[64], target[4096] = {};
        std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        const ssize_t n = readlink(link, target, sizeof target - 1);
        const std::string name(target, n > 0 ? static_cast<std::size_t>(n) : 0);
        if (name.find(".avi") != std::string::npos) // the file, or the temporary it is written to
            *g_nowhere = 1;
    }
}

} // namespace

extern "C" ssize_t writev(int fd, const struct iovec* iov, int count)
{
    using TWritev = ssize_t (*)(int, const struct iovec*, int);
    static TWritev real = reinterpret_cast<TWritev>(dlsym(RTLD_NEXT, "writev"));
    FaultWhenTheAviIsLong(fd);
    return real(fd, iov, count);
}
