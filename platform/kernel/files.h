#pragma once
// Files and folders of the file system: the stand-in for CreateFile,
// ReadFile, WriteFile, SetFilePointer, GetFileSize, GetFileAttributes,
// CreateDirectory, DeleteFile and MoveFile. Files are opened without locks,
// so other readers and writers go on using them. Failures leave errno set.
// Reading, writing and seeking an open file are plain system calls and
// signal-safe; everything that takes a path is not (it builds strings).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/kernel/unique_fd.h"

namespace kernel {

enum class TFileOpen {
    foRead,       // an existing file, read-only
    foReadWrite,  // an existing file, for reading and writing
    foCreate,     // created, or emptied when it exists; reading and writing
    foOpenAlways, // opened, created when missing; reading and writing
};

// An invalid owner when the file cannot be opened.
TUniqueFd OpenFile(const std::string& path, TFileOpen how);
// A regular file opened for reading. A folder (EISDIR), FIFO, device or
// socket (EINVAL) is refused without waiting for a writer to appear.
TUniqueFd OpenRegularFileForReading(const std::string& path);
// Creates a new file from a pattern ending in "XXXXXX", which is replaced
// by the name chosen.
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
// True when the folder exists afterwards (made now or already there).
bool CreateFolder(const std::string& path);
bool DeleteFile(const std::string& path);
// Renames over an existing file in one step.
bool MoveFile(const std::string& from, const std::string& to);

} // namespace kernel
