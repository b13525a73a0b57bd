#pragma once
// The crash reporter's byte streams, shared by the options, the stored data,
// the codecs and the report files: a small TStream base with a growing
// memory stream, a read-only view of bytes owned elsewhere, and a file
// stream. Reads never go past the end of a stream: Read returns what is
// there, ReadBuffer raises EReadError when fewer bytes remain than asked.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/kernel/unique_fd.h"
#include "platform/rtl/exception.h"

namespace crashreport {

// Raised when a stream cannot take the bytes written to it.
class EWriteError : public rtl::Exception {
public:
    using Exception::Exception;
};

// Raised when a file cannot be created.
class EFCreateError : public rtl::Exception {
public:
    using Exception::Exception;
};

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
public:
    virtual ~TStream() = default;

    // Reads up to `count` bytes; returns how many were read (0 at the end).
    virtual std::size_t Read(void* buffer, std::size_t count) = 0;
    // Writes up to `count` bytes; returns how many were written.
    virtual std::size_t Write(const void* buffer, std::size_t count) = 0;
    // Moves the position; a position before the start is clamped to 0.
    // Returns the new position.
    virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;
    virtual std::int64_t Size() const = 0;

    std::int64_t Position() const { return const_cast<TStream*>(this)->Seek(0, TSeekOrigin::soCurrent); }
    void SetPosition(std::int64_t position) { Seek(position, TSeekOrigin::soBeginning); }
    // Bytes between the position and the end (0 when the position is past it).
    std::int64_t Remaining() const;

    // Reads exactly `count` bytes or raises EReadError ("Stream read error").
    void ReadBuffer(void* buffer, std::size_t count);
    // Writes exactly `count` bytes or raises EWriteError ("Stream write error").
    void WriteBuffer(const void* buffer, std::size_t count);
    void WriteBytes(std::string_view bytes) { WriteBuffer(bytes.data(), bytes.size()); }
    // Copies `count` bytes (all remaining when 0) from `source` at its position.
    std::int64_t CopyFrom(TStream& source, std::int64_t count = 0);
};

// Bytes in memory that the stream owns; writing past the end grows it.
// Not signal-safe: writing allocates.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::string_view bytes) : data_(bytes.begin(), bytes.end()) {}

    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() const override { return static_cast<std::int64_t>(data_.size()); }

    void SetSize(std::size_t size);
    void Clear();
    const std::uint8_t* Memory() const { return data_.data(); }
    std::string Bytes() const { return std::string(data_.begin(), data_.end()); }

private:
    std::vector<std::uint8_t> data_;
    std::size_t position_ = 0;
};

// A read-only stream over bytes owned by the caller, who keeps them alive
// for the stream's lifetime. Read and Seek are signal-safe (no allocation,
// no lock); ReadBuffer is not, as it may raise.
class TByteViewStream : public TStream {
public:
    TByteViewStream(const void* data, std::size_t size) : data_(static_cast<const std::uint8_t*>(data)), size_(size) {}
    explicit TByteViewStream(std::string_view bytes) : TByteViewStream(bytes.data(), bytes.size()) {}

    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void*, std::size_t) override { return 0; }
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() const override { return static_cast<std::int64_t>(size_); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

// A file opened for reading, reading and writing, or created (truncated).
// Other readers and writers may use the file at the same time. Reading
// opens regular files only: a device, FIFO or socket may never end. Not
// signal-safe: opening and a failed read raise.
class TFileStream : public TStream {
public:
    enum TMode { fmOpenRead, fmOpenReadWrite, fmCreate };

    // Raises rtl::EFOpenError ("Cannot open file \"%s\". %s") or
    // EFCreateError ("Cannot create file \"%s\". %s"). Read raises
    // rtl::EReadError ("Cannot read file \"%s\". %s") when the system fails.
    TFileStream(const std::string& fileName, TMode mode);
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() const override;

    const std::string& FileName() const { return fileName_; }
    int Handle() const { return fd_.Get(); }

private:
    std::string fileName_;
    kernel::TUniqueFd fd_;
};

// Reads `source` from its position to its end. More than maxBytes raises
// codecs::ECodecError ("Input is larger than %zu bytes").
std::vector<std::uint8_t> ReadAllBytes(TStream& source, std::size_t maxBytes = SIZE_MAX);

} // namespace crashreport
