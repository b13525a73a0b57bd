#include "platform/kernel/file_lock.h"

#include "platform/kernel/files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kernel {

bool LockFileExclusive(int fd)
{
    for (;;) {
        if (::flock(fd, LOCK_EX) == 0) return true;
        if (errno != EINTR) return false;
    }
}

bool TryLockFileExclusive(int fd)
{
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EINTR) return false;
    }
}

bool UnlockFile(int fd) { return ::flock(fd, LOCK_UN) == 0; }

bool TFileLock::Lock(const std::string& path, int timeoutMs)
{
    Unlock();
    // Lock files sit in folders others may share: a link planted at the
    // path is refused rather than followed to create or open its target.
    TUniqueFd fd = OpenFile(path, TFileOpen::foOpenAlways, TLinkRule::lpRefuseLink);
    if (!fd.Valid()) return false;
    if (timeoutMs < 0) {
        if (!LockFileExclusive(fd.Get())) return false;
    } else {
        for (int waited = 0;; waited += 5) {
            if (::flock(fd.Get(), LOCK_EX | LOCK_NB) == 0) break;
            if ((errno != EWOULDBLOCK && errno != EINTR) || waited >= timeoutMs) return false;
            ::usleep(5000);
        }
    }
    fd_ = std::move(fd);
    return true;
}

bool SyncFile(int fd)
{
    for (;;) {
        if (::fsync(fd) == 0) return true;
        if (errno != EINTR) return false;
    }
}

std::optional<unsigned> GetFileMode(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    return static_cast<unsigned>(info.st_mode & 07777);
}

bool SetFileMode(int fd, unsigned mode) { return ::fchmod(fd, static_cast<mode_t>(mode)) == 0; }

unsigned GetCreationMask()
{
    // umask can only be read by setting it; no other thread of ours
    // creates files in that instant.
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return static_cast<unsigned>(mask);
}

bool LinkFile(const std::string& existing, const std::string& newName)
{
    return ::link(existing.c_str(), newName.c_str()) == 0;
}

void TFileLock::Unlock()
{
    if (fd_.Valid()) {
        UnlockFile(fd_.Get());
        fd_.Reset();
    }
}

} // namespace kernel
