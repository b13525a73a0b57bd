#include "platform/avifile/buffered_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstring>

namespace avifile {

namespace {
constexpr size_t kDirectThreshold = 64u << 10; // bodies this large skip the buffer
const uint8_t kZeros[16] = {};
} // namespace

int BufferedFile::Create(const std::string& path)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return errno ? errno : EIO;
    owned_.Reset(fd);
    Start(fd);
    return 0;
}

int BufferedFile::Attach(int fd)
{
    if (fd < 0) return EBADF;
    owned_.Reset();
    Start(fd);
    return 0;
}

void BufferedFile::Start(int fd)
{
    fd_ = fd;
    struct stat st {};
    if (::fstat(fd, &st) == 0) {
        regular_ = S_ISREG(st.st_mode);
        device_ = st.st_dev;
        inode_ = st.st_ino;
    }
    // Not zeroed: pages the file never needs are never touched.
    if (!buffer_) buffer_ = std::make_unique_for_overwrite<uint8_t[]>(kBufferSize);
    used_ = 0;
    position_ = flushed_ = 0;
    failed_ = false;
    errno_ = 0;
}

bool BufferedFile::Fail(int err)
{
    failed_ = true;
    if (!errno_) errno_ = err ? err : EIO;
    return false;
}

bool BufferedFile::WriteAll(const ::iovec* parts, int count)
{
    struct iovec local[4];
    int n = std::min(count, 4);
    std::copy(parts, parts + n, local);
    struct iovec* cur = local;
    while (n > 0) {
        ssize_t done = ::writev(fd_, cur, n);
        if (done < 0) {
            if (errno == EINTR) continue;
            return Fail(errno);
        }
        if (done == 0) return Fail(EIO);
        size_t left = static_cast<size_t>(done);
        flushed_ += left;
        while (n > 0 && left >= cur->iov_len) {
            left -= cur->iov_len;
            ++cur;
            --n;
        }
        if (n > 0) {
            cur->iov_base = static_cast<uint8_t*>(cur->iov_base) + left;
            cur->iov_len -= left;
        }
    }
    return true;
}

bool BufferedFile::Flush()
{
    if (failed_) return false;
    if (used_ == 0) return true;
    struct iovec part {
        buffer_.get(), used_
    };
    used_ = 0;
    return WriteAll(&part, 1);
}

bool BufferedFile::Write(const void* data, size_t size) { return WriteGather(data, size, nullptr, 0, 0); }

bool BufferedFile::WriteZeros(size_t count)
{
    while (count > 0) {
        size_t step = std::min(count, sizeof kZeros);
        if (!Write(kZeros, step)) return false;
        count -= step;
    }
    return true;
}

bool BufferedFile::WriteGather(const void* head, size_t headSize, const void* body, size_t bodySize, size_t padZeros)
{
    if (failed_ || fd_ < 0) return false;
    assert(padZeros <= sizeof kZeros);
    const size_t total = headSize + bodySize + padZeros;
    if (bodySize >= kDirectThreshold || total > kBufferSize - used_) {
        if (bodySize >= kDirectThreshold && headSize + used_ <= kBufferSize) {
            // Buffered bytes, the head and the body leave in one system call.
            std::memcpy(buffer_.get() + used_, head, headSize);
            used_ += headSize;
            struct iovec parts[3] = {
                {buffer_.get(), used_}, {const_cast<void*>(body), bodySize}, {const_cast<uint8_t*>(kZeros), padZeros}};
            used_ = 0;
            if (!WriteAll(parts, padZeros ? 3 : 2)) return false;
            position_ += total; // the buffered bytes were counted when they were buffered
            return true;
        }
        if (!Flush()) return false;
        if (total > kBufferSize) {
            struct iovec parts[3] = {{const_cast<void*>(head), headSize},
                                     {const_cast<void*>(body), bodySize},
                                     {const_cast<uint8_t*>(kZeros), padZeros}};
            if (!WriteAll(parts, 3)) return false;
            position_ += total;
            return true;
        }
    }
    uint8_t* out = buffer_.get() + used_;
    if (headSize) std::memcpy(out, head, headSize);
    if (bodySize) std::memcpy(out + headSize, body, bodySize);
    if (padZeros) std::memset(out + headSize + bodySize, 0, padZeros);
    used_ += total;
    position_ += total;
    return true;
}

bool BufferedFile::Patch(uint64_t offset, const void* data, size_t size)
{
    if (failed_) return false;
    assert(offset + size <= position_);
    const auto* bytes = static_cast<const uint8_t*>(data);
    // The part that still sits in the buffer is patched in memory.
    if (offset + size > flushed_) {
        uint64_t from = std::max(offset, flushed_);
        size_t skip = static_cast<size_t>(from - offset);
        std::memcpy(buffer_.get() + (from - flushed_), bytes + skip, size - skip);
        size = skip;
    }
    while (size > 0) {
        ssize_t done = ::pwrite(fd_, bytes, size, static_cast<off_t>(offset));
        if (done < 0) {
            if (errno == EINTR) continue;
            return Fail(errno);
        }
        if (done == 0) return Fail(EIO);
        bytes += done;
        offset += static_cast<uint64_t>(done);
        size -= static_cast<size_t>(done);
    }
    return true;
}

bool BufferedFile::Patch32(uint64_t offset, uint32_t value)
{
    uint8_t le[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
                     static_cast<uint8_t>(value >> 24)};
    return Patch(offset, le, 4);
}

bool BufferedFile::Close()
{
    bool ok = Flush();
    if (owned_.Valid() && !owned_.Close()) ok = Fail(errno);
    fd_ = -1;
    buffer_.reset();
    return ok && !failed_;
}

} // namespace avifile
