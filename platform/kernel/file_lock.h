#pragma once
// Advisory whole-file locks between processes (flock(2) on an open
// descriptor; readers that do not lock are not stopped), and what replacing
// a file in one step needs: flushing it to the disk, its permission bits,
// and a second name for the same file. Not signal-safe where a path is
// taken; the descriptor functions are plain system calls and signal-safe.
#include "platform/kernel/unique_fd.h"

#include <optional>
#include <string>

namespace kernel {

// Holds an exclusive lock on one file for its lifetime. The lock belongs to
// its own descriptor, so closing other descriptors of the same file does
// not drop it.
class TFileLock {
public:
    TFileLock() = default;
    TFileLock(TFileLock&&) noexcept = default;
    TFileLock& operator=(TFileLock&&) noexcept = default;
    TFileLock(const TFileLock&) = delete;
    TFileLock& operator=(const TFileLock&) = delete;
    ~TFileLock() { Unlock(); }

    // Opens (creating when missing, owner-only) the lock file at `path` and
    // waits at most `timeoutMs` (< 0: no limit) for the exclusive lock;
    // false when the file cannot be opened (a symbolic link at the path is
    // refused with ELOOP) or the lock not had in time (errno set).
    bool Lock(const std::string& path, int timeoutMs = -1);
    bool Locked() const { return fd_.Valid(); }
    void Unlock();

private:
    TUniqueFd fd_;
};

// Exclusive lock on an open descriptor, waiting for it; false on failure.
bool LockFileExclusive(int fd);
// The same without waiting: false when another descriptor holds a lock.
bool TryLockFileExclusive(int fd);
bool UnlockFile(int fd);

// Writes the file's data through to the disk; false on failure (a full disk
// or an I/O error may show only here).
bool SyncFile(int fd);
// The permission bits of the file at `path`; none when nothing is there.
std::optional<unsigned> GetFileMode(const std::string& path);
bool SetFileMode(int fd, unsigned mode);
// The process's file-creation mask, without changing it.
unsigned GetCreationMask();
// A second name for an existing file (a hard link); false on failure.
bool LinkFile(const std::string& existing, const std::string& newName);

} // namespace kernel
