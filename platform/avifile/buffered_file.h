#pragma once
// Sequential output file with a large write buffer and back-patching of
// bytes already written. Large bodies (whole frames) go to the kernel in one
// gathered write together with what is buffered, without being copied.
//
// The first failure is sticky: once a write fails, every later call fails
// too, because the buffered bytes are lost and the file can no longer be
// completed.
#include <sys/types.h>
#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/kernel/unique_fd.h"

namespace avifile {

class BufferedFile {
public:
    static constexpr size_t kBufferSize = 2u << 20;

    BufferedFile() = default;
    BufferedFile(const BufferedFile&) = delete;
    BufferedFile& operator=(const BufferedFile&) = delete;

    // Creates the file or truncates an existing one. Returns 0 or the errno.
    int Create(const std::string& path);
    // Writes through a descriptor that stays its owner's: Close flushes but
    // leaves the descriptor open. Returns 0 or the errno.
    int Attach(int fd);

    uint64_t Position() const { return position_; }
    bool Failed() const { return failed_; }
    int LastErrno() const { return errno_; }
    // True when the path named a regular file (not a device such as /dev/full).
    bool IsRegularFile() const { return regular_; }
    dev_t Device() const { return device_; }
    ino_t Inode() const { return inode_; }

    bool Write(const void* data, size_t size);
    bool WriteZeros(size_t count);
    // head (small) + body + padZeros zero bytes, one gathered write for big bodies.
    bool WriteGather(const void* head, size_t headSize, const void* body, size_t bodySize, size_t padZeros);
    // Overwrites bytes at an earlier offset (inside the file or the buffer).
    bool Patch(uint64_t offset, const void* data, size_t size);
    bool Patch32(uint64_t offset, uint32_t value);

    bool Flush();
    // Flushes, syncs nothing, closes an owned descriptor; false when anything failed.
    bool Close();

private:
    bool Fail(int err);
    bool WriteAll(const ::iovec* parts, int count);

    void Start(int fd);

    kernel::TUniqueFd owned_; // the descriptor when Create opened it
    int fd_ = -1;
    std::unique_ptr<uint8_t[]> buffer_;
    size_t used_ = 0;
    uint64_t position_ = 0; // logical end of the file (flushed + buffered)
    uint64_t flushed_ = 0;  // bytes handed to the kernel
    bool failed_ = false;
    int errno_ = 0;
    bool regular_ = false;
    dev_t device_ = 0;
    ino_t inode_ = 0;
};

} // namespace avifile
