#include "platform/kernel/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

namespace kernel {

namespace {

// A file made by this call gets exactly the owner-only mode (the creation
// mask could leave it readable by others, or unwritable by its owner); one
// that exists is opened as it is. O_EXCL never makes a file through a
// symbolic link, so a dangling link planted at the path is not followed to
// make its target.
TUniqueFd OpenOrCreate(const std::string& path, int flags)
{
    // The file can vanish between the two opens; a few rounds settle it.
    for (int round = 0; round < 3; ++round) {
        TUniqueFd fd(::open(path.c_str(), flags | O_CREAT | O_EXCL, kOwnerOnlyFileMode));
        if (fd.Valid()) {
            if (::fchmod(fd.Get(), kOwnerOnlyFileMode) != 0) {
                const int error = errno;
                ::unlink(path.c_str());
                errno = error;
                return TUniqueFd();
            }
            return fd;
        }
        if (errno != EEXIST) return fd;
        fd.Reset(::open(path.c_str(), flags));
        if (fd.Valid() || errno != ENOENT) return fd;
    }
    return TUniqueFd();
}

// Sets exactly the owner-only folder mode on a folder just made (without
// needing to read it: the mask may have left it unreadable), never on what
// a link put in its place points to.
bool MakeFolderOwnerOnly(const std::string& path)
{
    return ::fchmodat(AT_FDCWD, path.c_str(), kOwnerOnlyFolderMode, AT_SYMLINK_NOFOLLOW) == 0;
}

} // namespace

TUniqueFd OpenFile(const std::string& path, TFileOpen how, TLinkRule links)
{
    int flags = O_CLOEXEC | (links == TLinkRule::lpRefuseLink ? O_NOFOLLOW : 0);
    switch (how) {
    case TFileOpen::foRead: return TUniqueFd(::open(path.c_str(), flags | O_RDONLY));
    case TFileOpen::foReadWrite: return TUniqueFd(::open(path.c_str(), flags | O_RDWR));
    case TFileOpen::foCreate: flags |= O_RDWR | O_TRUNC; break;
    case TFileOpen::foOpenAlways: flags |= O_RDWR; break;
    }
    return OpenOrCreate(path, flags);
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

TUniqueFd CreateUniqueFile(std::string& pattern)
{
    TUniqueFd fd(::mkostemp(pattern.data(), O_CLOEXEC));
    // mkostemp's 0600 is narrowed by the creation mask; the owner keeps both rights.
    if (fd.Valid() && ::fchmod(fd.Get(), kOwnerOnlyFileMode) != 0) {
        const int error = errno;
        ::unlink(pattern.c_str());
        errno = error;
        return TUniqueFd();
    }
    return fd;
}

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
    if (::mkdir(path.c_str(), kOwnerOnlyFolderMode) == 0) return MakeFolderOwnerOnly(path);
    struct stat st {};
    return errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

// The process's own user and the administrator are trusted owners.
bool IsTrustedOwner(uid_t owner) { return owner == ::geteuid() || owner == 0; }

} // namespace

bool CreateOwnFolder(const std::string& path)
{
    if (::mkdir(path.c_str(), kOwnerOnlyFolderMode) == 0) return MakeFolderOwnerOnly(path);
    if (errno != EEXIST) return false;
    // Looked at without following a link: the folder itself must be ours.
    const TUniqueFd folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder.Valid()) {
        if (errno == ENOTDIR) {
            struct stat link {};
            if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) errno = ELOOP;
        }
        return false;
    }
    struct stat st {};
    if (::fstat(folder.Get(), &st) != 0) return false;
    if (st.st_uid != ::geteuid()) {
        errno = EPERM;
        return false;
    }
    return true;
}

bool IsForeignSymbolicLink(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && !IsTrustedOwner(st.st_uid);
}

bool DeleteFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool MoveFile(const std::string& from, const std::string& to) { return ::rename(from.c_str(), to.c_str()) == 0; }

} // namespace kernel
