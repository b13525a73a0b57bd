#include "crashreport/codecs/gzip_writer.h"

#include "crashreport/codecs/crc32.h"
#include "crashreport/codecs/deflate_codec.h"
#include "crashreport/codecs/file_io.h"

namespace crashreport::codecs {
namespace {

void AppendLittleEndian32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

} // namespace

std::string GzipStoredName(std::string_view gzipPath)
{
    size_t slash = gzipPath.rfind('/');
    std::string_view name = slash == std::string_view::npos ? gzipPath : gzipPath.substr(slash + 1);
    size_t dot = name.rfind('.');
    if (dot != std::string_view::npos && dot > 0) name = name.substr(0, dot);
    std::string stored(name);
    stored += ".tar";
    return stored;
}

std::vector<uint8_t> BuildGzipImage(std::span<const uint8_t> data, std::string_view storedName)
{
    // The name field ends at its first 0 byte; a name holding one is cut there.
    storedName = storedName.substr(0, storedName.find('\0'));
    std::vector<uint8_t> body = Deflate(data, TDeflateFraming::dfRaw, 9);
    std::vector<uint8_t> out;
    out.reserve(10 + storedName.size() + 1 + body.size() + 8);
    const uint8_t header[10] = {0x1F, 0x8B, 8, 8, 0, 0, 0, 0, 0, 0};
    out.insert(out.end(), header, header + sizeof header);
    out.insert(out.end(), storedName.begin(), storedName.end());
    out.push_back(0);
    out.insert(out.end(), body.begin(), body.end());
    AppendLittleEndian32(out, ComputeCrc32(data.data(), data.size()));
    AppendLittleEndian32(out, uint32_t(data.size())); // size modulo 2^32, as gzip keeps it
    return out;
}

void WriteGzipFile(std::span<const uint8_t> data, const std::string& gzipPath)
{
    WriteFileReplacing(gzipPath, BuildGzipImage(data, GzipStoredName(gzipPath)));
}

void WriteGzipFile(TStream& data, const std::string& gzipPath)
{
    std::vector<uint8_t> bytes = ReadAllBytes(data);
    WriteGzipFile(bytes, gzipPath);
}

} // namespace crashreport::codecs
