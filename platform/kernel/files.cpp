#include "platform/kernel/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

namespace kernel {

TUniqueFd OpenFile(const std::string& path, TFileOpen how)
{
    int flags = O_CLOEXEC;
    switch (how) {
    case TFileOpen::foRead: flags |= O_RDONLY; break;
    case TFileOpen::foReadWrite: flags |= O_RDWR; break;
    case TFileOpen::foCreate: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    case TFileOpen::foOpenAlways: flags |= O_RDWR | O_CREAT; break;
    }
    return TUniqueFd(::open(path.c_str(), flags, 0644));
}

TUniqueFd OpenRegularFileForReading(const std::string& path)
{
    // O_NONBLOCK keeps the open of a FIFO without writer from waiting forever.
    TUniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.Valid()) return fd;
    // The descriptor is closed on every refusal, with errno kept for the caller.
    auto refuse = [&fd](int error) {
        fd.Reset();
        errno = error;
        return std::move(fd);
    };
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0) return refuse(errno);
    // Devices, FIFOs and sockets may never end; only regular files are read.
    if (!S_ISREG(info.st_mode)) return refuse(S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
    const int flags = ::fcntl(fd.Get(), F_GETFL);
    if (flags == -1 || ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK) == -1) return refuse(errno);
    return fd;
}

TUniqueFd CreateUniqueFile(std::string& pattern) { return TUniqueFd(::mkostemp(pattern.data(), O_CLOEXEC)); }

std::ptrdiff_t ReadFile(int fd, void* buffer, std::size_t count)
{
    for (;;) {
        const ssize_t n = ::read(fd, buffer, count);
        if (n >= 0 || errno != EINTR) return n;
    }
}

std::ptrdiff_t WriteFile(int fd, const void* buffer, std::size_t count)
{
    for (;;) {
        const ssize_t n = ::write(fd, buffer, count);
        if (n >= 0 || errno != EINTR) return n;
    }
}

bool WriteAll(int fd, const void* buffer, std::size_t count)
{
    const auto* bytes = static_cast<const char*>(buffer);
    while (count > 0) {
        const std::ptrdiff_t n = WriteFile(fd, bytes, count);
        if (n < 0) return false;
        if (n == 0) {
            errno = ENOSPC; // a regular file that takes nothing is full
            return false;
        }
        bytes += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

std::int64_t SeekFile(int fd, std::int64_t offset, TSeekFrom from)
{
    const int whence = from == TSeekFrom::sfBeginning ? SEEK_SET : from == TSeekFrom::sfCurrent ? SEEK_CUR : SEEK_END;
    return ::lseek(fd, static_cast<off_t>(offset), whence);
}

std::optional<std::uint64_t> GetFileSize(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size < 0) return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
}

std::optional<TFileInfo> GetFileInfo(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    TFileInfo info;
    info.IsFolder = S_ISDIR(st.st_mode);
    info.IsRegular = S_ISREG(st.st_mode);
    info.Size = st.st_size < 0 ? 0 : static_cast<std::uint64_t>(st.st_size);
    info.LastWriteSeconds = st.st_mtim.tv_sec;
    info.LastWriteNanoseconds = static_cast<std::int32_t>(st.st_mtim.tv_nsec);
    return info;
}

bool FileExists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::optional<std::string> GetRealPath(const std::string& path)
{
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr) return std::nullopt;
    std::string result(real);
    std::free(real);
    return result;
}

bool CreateFolder(const std::string& path)
{
    if (::mkdir(path.c_str(), 0755) == 0) return true;
    struct stat st {};
    return errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool DeleteFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool MoveFile(const std::string& from, const std::string& to) { return ::rename(from.c_str(), to.c_str()) == 0; }

} // namespace kernel
