#pragma once
// Files and folders of the file system: the stand-in for CreateFile,
// ReadFile, WriteFile, SetFilePointer, GetFileSize, GetFileAttributes,
// CreateDirectory, DeleteFile and MoveFile. Files are opened without locks,
// so other readers and writers go on using them. Failures leave errno set.
// Reading, writing and seeking an open file are plain system calls and
// signal-safe; everything that takes a path is not (it builds strings).
//
// What these functions create is private to the process's user, whatever
// the creation mask: files get exactly kOwnerOnlyFileMode, folders
// kOwnerOnlyFolderMode (reports hold the program's secrets). A file or
// folder that exists already keeps the mode its owner gave it.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/kernel/unique_fd.h"

namespace kernel {

inline constexpr unsigned kOwnerOnlyFileMode = 0600;
inline constexpr unsigned kOwnerOnlyFolderMode = 0700;

enum class TFileOpen {
    foRead,       // an existing file, read-only
    foReadWrite,  // an existing file, for reading and writing
    foCreate,     // created, or emptied when it exists; reading and writing
    foOpenAlways, // opened, created when missing; reading and writing
};

// Whether the last part of a path may be a symbolic link to follow. In a
// folder that others can write to, a link planted there could send a
// write to any file of this user; lpRefuseLink fails with ELOOP instead.
enum class TLinkRule { lpFollow, lpRefuseLink };

// An invalid owner when the file cannot be opened. A file made here never
// comes into being through a symbolic link: the creating modes make the
// file only where nothing is yet, else open what is there.
TUniqueFd OpenFile(const std::string& path, TFileOpen how, TLinkRule links = TLinkRule::lpFollow);
// A regular file opened for reading. A folder (EISDIR), FIFO, device or
// socket (EINVAL) is refused without waiting for a writer to appear.
TUniqueFd OpenRegularFileForReading(const std::string& path);
// Creates a new owner-only file from a pattern ending in "XXXXXX", which is
// replaced by the name chosen.
TUniqueFd CreateUniqueFile(std::string& pattern);

// Bytes read or written (interrupted calls are repeated), -1 on failure.
std::ptrdiff_t ReadFile(int fd, void* buffer, std::size_t count);
std::ptrdiff_t WriteFile(int fd, const void* buffer, std::size_t count);
// Writes all `count` bytes, repeating partial writes; false (errno set) when
// the system takes no more. Signal-safe.
bool WriteAll(int fd, const void* buffer, std::size_t count);
enum class TSeekFrom { sfBeginning, sfCurrent, sfEnd };
// The new position, -1 on failure.
std::int64_t SeekFile(int fd, std::int64_t offset, TSeekFrom from);
std::optional<std::uint64_t> GetFileSize(int fd);

struct TFileInfo {
    bool IsFolder = false;
    bool IsRegular = false;
    std::uint64_t Size = 0;
    std::int64_t LastWriteSeconds = 0; // since 1970-01-01, universal time
    std::int32_t LastWriteNanoseconds = 0;
};
// None when nothing is at the path.
std::optional<TFileInfo> GetFileInfo(const std::string& path);
bool FileExists(const std::string& path);
// The path with every symbolic link, "." and ".." resolved; none when it
// does not exist.
std::optional<std::string> GetRealPath(const std::string& path);
// True when the folder exists afterwards (made now, owner-only, or already
// there).
bool CreateFolder(const std::string& path);
// True when `path` is afterwards a folder of this user that is itself no
// symbolic link: made now (owner-only) or found so. A symbolic link (ELOOP)
// or another user's folder (EPERM) answers false, so nothing is written
// through a link planted in its place.
bool CreateOwnFolder(const std::string& path);
// True when the last part of `path` is a symbolic link made by another user
// than the process's (the administrator's links count as the process's own).
bool IsForeignSymbolicLink(const std::string& path);
bool DeleteFile(const std::string& path);
// Renames over an existing file in one step.
bool MoveFile(const std::string& from, const std::string& to);

} // namespace kernel
