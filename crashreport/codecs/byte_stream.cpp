#include "crashreport/delivery/codecs/byte_stream.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "crashreport/delivery/codecs/codec_error.h"
#include "platform/rtl/format.h"

namespace crashreport::codecs {

size_t TMemorySource::Read(void* buffer, size_t count) {
    size_t n = std::min(count, bytes_.size() - position_);
    if (n > 0) std::memcpy(buffer, bytes_.data() + position_, n);
    position_ += n;
    return n;
}

TFileSource::TFileSource(const std::string& path) : path_(path) {
    auto openError = [&](int error) {
        return rtl::EFOpenError(
            rtl::FormatStrings("Cannot open file \"%s\". %s", {path, std::strerror(error)}));
    };
    // Opened without any locking so other processes keep reading and writing.
    // O_NONBLOCK keeps the open of a FIFO without writer from waiting forever.
    fd_ = kernel::TUniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd_.Valid()) throw openError(errno);
    struct stat info {};
    if (::fstat(fd_.Get(), &info) != 0) throw openError(errno);
    if (S_ISDIR(info.st_mode)) throw openError(EISDIR);
    // Devices, FIFOs and sockets may never end; only regular files are read.
    if (!S_ISREG(info.st_mode)) throw openError(EINVAL);
    int flags = ::fcntl(fd_.Get(), F_GETFL);
    if (flags == -1 || ::fcntl(fd_.Get(), F_SETFL, flags & ~O_NONBLOCK) == -1) throw openError(errno);
}

size_t TFileSource::Read(void* buffer, size_t count) {
    for (;;) {
        ssize_t n = ::read(fd_.Get(), buffer, count);
        if (n >= 0) return static_cast<size_t>(n);
        if (errno == EINTR) continue;
        throw rtl::EReadError(
            rtl::FormatStrings("Cannot read file \"%s\". %s", {path_, std::strerror(errno)}));
    }
}

size_t TIStreamSource::Read(void* buffer, size_t count) {
    if (count == 0 || !stream_.good()) {
        if (stream_.bad()) throw rtl::EReadError("Cannot read from the stream");
        return 0;
    }
    stream_.read(static_cast<char*>(buffer), std::streamsize(count));
    if (stream_.bad()) throw rtl::EReadError("Cannot read from the stream");
    return size_t(stream_.gcount());
}

void TOStreamSink::Write(const void* data, size_t count) {
    stream_.write(static_cast<const char*>(data), std::streamsize(count));
    if (!stream_) throw EFWriteError("Cannot write to the stream");
}

void TVectorSink::Write(const void* data, size_t count) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    target_.insert(target_.end(), bytes, bytes + count);
}

void TStringSink::Write(const void* data, size_t count) {
    target_.append(static_cast<const char*>(data), count);
}

std::vector<uint8_t> ReadAllBytes(TByteSource& source, size_t maxBytes) {
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    for (;;) {
        size_t n = source.Read(chunk, sizeof chunk);
        if (n == 0) return bytes;
        if (n > maxBytes - bytes.size())
            throw ECodecError(rtl::Format("Input is larger than %zu bytes", maxBytes));
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
}

} // namespace crashreport::codecs
