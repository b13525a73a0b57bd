#include "crashreport/codecs/gzip_reader.h"

#include <algorithm>

#include "crashreport/codecs/codec_error.h"
#include "crashreport/codecs/crc32.h"

namespace crashreport::codecs {
namespace {

constexpr uint8_t kFlagHeaderCrc = 0x02;
constexpr uint8_t kFlagExtra = 0x04;
constexpr uint8_t kFlagName = 0x08;
constexpr uint8_t kFlagComment = 0x10;
constexpr uint8_t kFlagsReserved = 0xE0;

uint32_t LoadLittleEndian32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Passes bytes on while keeping their CRC-32 and count.
// Write-only: reading finds nothing, and the position is the count.
class TCheckingSink final : public TStream {
public:
    explicit TCheckingSink(TStream& target) : target_(target) {}
    std::size_t Read(void*, std::size_t) override { return 0; }
    std::size_t Write(const void* data, std::size_t count) override
    {
        target_.WriteBuffer(data, count);
        crc_ = UpdateCrc32(crc_, data, count);
        size_ += count;
        return count;
    }
    std::int64_t Seek(std::int64_t, TSeekOrigin) override { return std::int64_t(size_); }
    std::int64_t Size() const override { return std::int64_t(size_); }
    uint32_t Crc() const { return crc_; }
    size_t Count() const { return size_; }

private:
    TStream& target_;
    uint32_t crc_ = 0;
    size_t size_ = 0;
};

[[noreturn]] void Truncated() { throw EGzipError("Gzip data is truncated"); }

// Offset of the first byte after the zero-terminated field starting at pos.
size_t SkipZeroTerminated(std::span<const uint8_t> in, size_t pos)
{
    auto end = std::find(in.begin() + pos, in.end(), uint8_t(0));
    if (end == in.end()) Truncated();
    return size_t(end - in.begin()) + 1;
}

// Reads the member at the start of in; returns its length in bytes.
size_t ReadMember(std::span<const uint8_t> in, TStream& output, size_t maxOutput)
{
    if (in.size() < 10) Truncated();
    if (in[0] != 0x1F || in[1] != 0x8B) throw EGzipError("Not gzip data (bad magic bytes)");
    if (in[2] != 8) throw EGzipError("Gzip data uses an unknown compression method");
    const uint8_t flags = in[3];
    if (flags & kFlagsReserved) throw EGzipError("Gzip header has reserved flags set");
    size_t pos = 10;
    if (flags & kFlagExtra) {
        if (in.size() - pos < 2) Truncated();
        size_t extra = size_t(in[pos]) | size_t(in[pos + 1]) << 8;
        pos += 2;
        if (in.size() - pos < extra) Truncated();
        pos += extra;
    }
    if (flags & kFlagName) pos = SkipZeroTerminated(in, pos);
    if (flags & kFlagComment) pos = SkipZeroTerminated(in, pos);
    if (flags & kFlagHeaderCrc) {
        if (in.size() - pos < 2) Truncated();
        uint32_t stored = uint32_t(in[pos]) | uint32_t(in[pos + 1]) << 8;
        if ((ComputeCrc32(in.data(), pos) & 0xFFFF) != stored) throw EGzipError("Gzip header checksum is wrong");
        pos += 2;
    }
    TCheckingSink checking(output);
    pos += Inflate(in.subspan(pos), checking, TDeflateFraming::dfRaw, maxOutput);
    if (in.size() - pos < 8) Truncated();
    if (LoadLittleEndian32(&in[pos]) != checking.Crc()) throw EGzipError("Gzip data is damaged (CRC-32 mismatch)");
    if (LoadLittleEndian32(&in[pos + 4]) != uint32_t(checking.Count()))
        throw EGzipError("Gzip data is damaged (size mismatch)");
    return pos + 8;
}

} // namespace

bool HasGzipMagic(std::span<const uint8_t> data) { return data.size() >= 2 && data[0] == 0x1F && data[1] == 0x8B; }

size_t ReadGzip(std::span<const uint8_t> input, TStream& output, size_t maxOutput)
{
    TCheckingSink counting(output);
    size_t pos = 0;
    do {
        pos += ReadMember(input.subspan(pos), counting, maxOutput - counting.Count());
        // Padding of zero bytes after the last member is ignored, as gzip does.
        if (std::all_of(input.begin() + pos, input.end(), [](uint8_t b) { return b == 0; })) break;
        if (!HasGzipMagic(input.subspan(pos))) throw EGzipError("Unexpected data after the gzip member");
    } while (pos < input.size());
    return counting.Count();
}

size_t ReadGzipStream(TStream& gzip, TStream& output, size_t maxOutput, size_t maxInput)
{
    std::vector<uint8_t> input = ReadAllBytes(gzip, maxInput);
    return ReadGzip(input, output, maxOutput);
}

std::vector<uint8_t> GunzipBytes(std::span<const uint8_t> input, size_t maxOutput)
{
    TMemoryStream out;
    ReadGzip(input, out, maxOutput);
    return {out.Memory(), out.Memory() + out.Size()};
}

std::string GunzipText(std::string_view input, size_t maxOutput)
{
    TMemoryStream out;
    ReadGzip({reinterpret_cast<const uint8_t*>(input.data()), input.size()}, out, maxOutput);
    return out.Bytes();
}

} // namespace crashreport::codecs
