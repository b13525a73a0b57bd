#include "crashreport/codecs/byte_stream.h"

#include <cerrno>
#include <cstring>

#include "crashreport/codecs/codec_error.h"
#include "platform/kernel/files.h"
#include "platform/rtl/format.h"

namespace crashreport::codecs {

size_t TMemorySource::Read(void* buffer, size_t count)
{
    size_t n = std::min(count, bytes_.size() - position_);
    if (n > 0) std::memcpy(buffer, bytes_.data() + position_, n);
    position_ += n;
    return n;
}

TFileSource::TFileSource(const std::string& path) : path_(path)
{
    auto openError = [&](int error) {
        return rtl::EFOpenError(rtl::FormatStrings("Cannot open file \"%s\". %s", {path, std::strerror(error)}));
    };
    // Only regular files: devices, FIFOs and sockets may never end.
    fd_ = kernel::OpenRegularFileForReading(path);
    if (!fd_.Valid()) throw openError(errno);
}

size_t TFileSource::Read(void* buffer, size_t count)
{
    const std::ptrdiff_t n = kernel::ReadFile(fd_.Get(), buffer, count);
    if (n >= 0) return static_cast<size_t>(n);
    throw rtl::EReadError(rtl::FormatStrings("Cannot read file \"%s\". %s", {path_, std::strerror(errno)}));
}

size_t TIStreamSource::Read(void* buffer, size_t count)
{
    if (count == 0 || !stream_.good()) {
        if (stream_.bad()) throw rtl::EReadError("Cannot read from the stream");
        return 0;
    }
    stream_.read(static_cast<char*>(buffer), std::streamsize(count));
    if (stream_.bad()) throw rtl::EReadError("Cannot read from the stream");
    return size_t(stream_.gcount());
}

void TOStreamSink::Write(const void* data, size_t count)
{
    stream_.write(static_cast<const char*>(data), std::streamsize(count));
    if (!stream_) throw EFWriteError("Cannot write to the stream");
}

void TVectorSink::Write(const void* data, size_t count)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    target_.insert(target_.end(), bytes, bytes + count);
}

void TStringSink::Write(const void* data, size_t count) { target_.append(static_cast<const char*>(data), count); }

std::vector<uint8_t> ReadAllBytes(TByteSource& source, size_t maxBytes)
{
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    for (;;) {
        size_t n = source.Read(chunk, sizeof chunk);
        if (n == 0) return bytes;
        if (n > maxBytes - bytes.size()) throw ECodecError(rtl::Format("Input is larger than %zu bytes", maxBytes));
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
}

} // namespace crashreport::codecs
