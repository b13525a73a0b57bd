#include "crashreport/codecs/stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "crashreport/codecs/codec_error.h"
#include "platform/kernel/files.h"
#include "platform/rtl/format.h"

namespace crashreport {

namespace {

// Resolves a seek request against a stream of `size` bytes; never negative.
std::int64_t Resolve(std::int64_t offset, TSeekOrigin origin, std::int64_t current, std::int64_t size)
{
    std::int64_t base = origin == TSeekOrigin::soBeginning ? 0 : origin == TSeekOrigin::soCurrent ? current : size;
    if (offset > 0 && base > INT64_MAX - offset) return INT64_MAX;
    if (offset < 0 && base + offset < 0) return 0;
    return base + offset;
}

} // namespace

std::int64_t TStream::Remaining() const
{
    const std::int64_t left = Size() - Position();
    return left > 0 ? left : 0;
}

void TStream::ReadBuffer(void* buffer, std::size_t count)
{
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const std::size_t n = Read(out + done, count - done);
        if (n == 0) throw rtl::EReadError("Stream read error");
        done += n;
    }
}

void TStream::WriteBuffer(const void* buffer, std::size_t count)
{
    const auto* in = static_cast<const std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const std::size_t n = Write(in + done, count - done);
        if (n == 0) throw EWriteError("Stream write error");
        done += n;
    }
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count)
{
    if (count <= 0) count = source.Remaining();
    std::uint8_t chunk[64 * 1024];
    std::int64_t left = count;
    while (left > 0) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(left, sizeof chunk));
        source.ReadBuffer(chunk, n);
        WriteBuffer(chunk, n);
        left -= static_cast<std::int64_t>(n);
    }
    return count;
}

std::size_t TMemoryStream::Read(void* buffer, std::size_t count)
{
    if (position_ >= data_.size()) return 0;
    const std::size_t n = std::min(count, data_.size() - position_);
    std::memcpy(buffer, data_.data() + position_, n);
    position_ += n;
    return n;
}

std::size_t TMemoryStream::Write(const void* buffer, std::size_t count)
{
    if (count == 0) return 0;
    if (position_ + count > data_.size()) data_.resize(position_ + count);
    std::memcpy(data_.data() + position_, buffer, count);
    position_ += count;
    return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin)
{
    position_ = static_cast<std::size_t>(Resolve(offset, origin, static_cast<std::int64_t>(position_), Size()));
    return static_cast<std::int64_t>(position_);
}

void TMemoryStream::SetSize(std::size_t size)
{
    data_.resize(size);
    position_ = std::min(position_, size);
}

void TMemoryStream::Clear()
{
    data_.clear();
    position_ = 0;
}

std::size_t TByteViewStream::Read(void* buffer, std::size_t count)
{
    if (position_ >= size_) return 0;
    const std::size_t n = std::min(count, size_ - position_);
    std::memcpy(buffer, data_ + position_, n);
    position_ += n;
    return n;
}

std::int64_t TByteViewStream::Seek(std::int64_t offset, TSeekOrigin origin)
{
    position_ = static_cast<std::size_t>(Resolve(offset, origin, static_cast<std::int64_t>(position_), Size()));
    return static_cast<std::int64_t>(position_);
}

TFileStream::TFileStream(const std::string& fileName, TMode mode) : fileName_(fileName)
{
    fd_ = mode == fmOpenRead        ? kernel::OpenRegularFileForReading(fileName)
          : mode == fmOpenReadWrite ? kernel::OpenFile(fileName, kernel::TFileOpen::foReadWrite)
                                    : kernel::OpenFile(fileName, kernel::TFileOpen::foCreate);
    if (!fd_.Valid()) {
        const std::string reason = std::strerror(errno);
        if (mode == fmCreate)
            throw EFCreateError(rtl::FormatStrings("Cannot create file \"%s\". %s", {fileName, reason}));
        throw rtl::EFOpenError(rtl::FormatStrings("Cannot open file \"%s\". %s", {fileName, reason}));
    }
}

std::size_t TFileStream::Read(void* buffer, std::size_t count)
{
    const std::ptrdiff_t n = kernel::ReadFile(fd_.Get(), buffer, count);
    if (n < 0) throw rtl::EReadError(rtl::FormatStrings("Cannot read file \"%s\". %s", {fileName_, std::strerror(errno)}));
    return static_cast<std::size_t>(n);
}

std::size_t TFileStream::Write(const void* buffer, std::size_t count)
{
    const std::ptrdiff_t n = kernel::WriteFile(fd_.Get(), buffer, count);
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin)
{
    // Only what the origin needs is asked of the kernel: readers seek from
    // the beginning, often.
    const std::int64_t current =
        origin == TSeekOrigin::soCurrent ? kernel::SeekFile(fd_.Get(), 0, kernel::TSeekFrom::sfCurrent) : 0;
    const std::int64_t target = Resolve(offset, origin, current, origin == TSeekOrigin::soEnd ? Size() : 0);
    const std::int64_t at = kernel::SeekFile(fd_.Get(), target, kernel::TSeekFrom::sfBeginning);
    return at < 0 ? 0 : at;
}

std::vector<std::uint8_t> ReadAllBytes(TStream& source, std::size_t maxBytes)
{
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[64 * 1024];
    for (;;) {
        const std::size_t n = source.Read(chunk, sizeof chunk);
        if (n == 0) return bytes;
        if (n > maxBytes - bytes.size()) throw codecs::ECodecError(rtl::Format("Input is larger than %zu bytes", maxBytes));
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
}

std::int64_t TFileStream::Size() const { return static_cast<std::int64_t>(kernel::GetFileSize(fd_.Get()).value_or(0)); }

} // namespace crashreport
