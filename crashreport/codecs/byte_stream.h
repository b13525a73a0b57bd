#pragma once
// The smallest reader and writer interfaces the codecs need. Callers with
// their own stream classes bridge to these with a few lines of adapter.
// TMemorySource::Read is signal-safe; the file source and the growing sinks
// are not (they allocate or raise).
#include <cstddef>
#include <cstdint>
#include <istream>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "platform/kernel/unique_fd.h"

namespace crashreport::codecs {

// A forward-only source of bytes, read from its current position to its end.
class TByteSource {
public:
    virtual ~TByteSource() = default;
    // Reads up to count bytes; returns how many were read, 0 only at the end.
    // Failures raise rtl::EReadError.
    virtual size_t Read(void* buffer, size_t count) = 0;
};

// A sink that takes every byte it is given or raises.
class TByteSink {
public:
    virtual ~TByteSink() = default;
    virtual void Write(const void* data, size_t count) = 0;
};

// Reads a byte range that the caller keeps alive.
class TMemorySource final : public TByteSource {
public:
    explicit TMemorySource(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    explicit TMemorySource(const std::string& text) : bytes_(reinterpret_cast<const uint8_t*>(text.data()), text.size())
    {
    }
    size_t Read(void* buffer, size_t count) override;

private:
    std::span<const uint8_t> bytes_;
    size_t position_ = 0;
};

// Reads a regular file from its start.
class TFileSource final : public TByteSource {
public:
    // Opens path for reading; raises rtl::EFOpenError when it cannot, or
    // when path is not a regular file (a directory, device, FIFO or socket).
    explicit TFileSource(const std::string& path);
    size_t Read(void* buffer, size_t count) override;

private:
    std::string path_;
    kernel::TUniqueFd fd_;
};

// Reads a standard input stream from its current position.
class TIStreamSource final : public TByteSource {
public:
    explicit TIStreamSource(std::istream& stream) : stream_(stream) {}
    size_t Read(void* buffer, size_t count) override;

private:
    std::istream& stream_;
};

// Writes to a standard output stream; a failed stream raises EFWriteError.
class TOStreamSink final : public TByteSink {
public:
    explicit TOStreamSink(std::ostream& stream) : stream_(stream) {}
    void Write(const void* data, size_t count) override;

private:
    std::ostream& stream_;
};

// Appends to a byte vector.
class TVectorSink final : public TByteSink {
public:
    explicit TVectorSink(std::vector<uint8_t>& target) : target_(target) {}
    void Write(const void* data, size_t count) override;

private:
    std::vector<uint8_t>& target_;
};

// Appends to a string.
class TStringSink final : public TByteSink {
public:
    explicit TStringSink(std::string& target) : target_(target) {}
    void Write(const void* data, size_t count) override;

private:
    std::string& target_;
};

// Reads the source to its end. More than maxBytes raises ECodecError.
std::vector<uint8_t> ReadAllBytes(TByteSource& source, size_t maxBytes = SIZE_MAX);

} // namespace crashreport::codecs
