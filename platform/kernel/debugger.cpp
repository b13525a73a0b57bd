#include "platform/kernel/debugger.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/kernel/files.h"
#include "platform/kernel/unique_fd.h"

namespace kernel {
namespace {

// Reads what fits of the file into buffer (NUL-terminated); its length.
std::size_t ReadSmallFile(const char* path, char* buffer, std::size_t size)
{
    TUniqueFd fd(::open(path, O_RDONLY | O_CLOEXEC));
    if (!fd.Valid()) return 0;
    std::size_t used = 0;
    while (used + 1 < size) {
        ssize_t n = ::read(fd.Get(), buffer + used, size - 1 - used);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        used += static_cast<std::size_t>(n);
    }
    buffer[used] = '\0';
    return used;
}

} // namespace

bool IsDebuggerPresent()
{
    // The status file is a few kilobytes; TracerPid comes early in it.
    char status[4096];
    if (ReadSmallFile("/proc/self/status", status, sizeof status) == 0) return false;
    const char* field = std::strstr(status, "\nTracerPid:");
    if (field == nullptr) return false;
    field += std::strlen("\nTracerPid:");
    while (*field == ' ' || *field == '\t') ++field;
    return *field >= '1' && *field <= '9';
}

void OutputDebugString(std::string_view text)
{
    if (IsDebuggerPresent()) WriteDebugLine(text);
}

void WriteDebugLine(std::string_view text)
{
    // One write for the whole line where it fits, so lines of several
    // threads do not interleave.
    char line[1024];
    if (text.size() < sizeof line) {
        std::memcpy(line, text.data(), text.size());
        line[text.size()] = '\n';
        WriteAll(STDERR_FILENO, line, text.size() + 1);
        return;
    }
    WriteAll(STDERR_FILENO, text.data(), text.size());
    WriteAll(STDERR_FILENO, "\n", 1);
}

} // namespace kernel
