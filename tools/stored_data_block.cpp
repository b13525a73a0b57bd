#include "tools/stored_data_block.h"

#include <cstring>

#include "crashreport/codecs/deflate_codec.h"
#include "crashreport/modules/debug_name_codec.h"

namespace tools {
namespace st = crashreport::stored;
namespace {

template <typename T> void Put(std::vector<std::uint8_t>& out, T value)
{
    const auto* b = reinterpret_cast<const std::uint8_t*>(&value);
    out.insert(out.end(), b, b + sizeof value);
}

void PutBytes(std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& bytes)
{
    out.insert(out.end(), bytes.begin(), bytes.end());
}

std::vector<std::uint8_t> Zlib(const std::vector<std::uint8_t>& bytes)
{
    return crashreport::codecs::Deflate(bytes, crashreport::codecs::TDeflateFraming::dfZlib, 9);
}

// Options, then the debug data with its length, as versions before 500 keep them.
std::vector<std::uint8_t> OptionsAndDebugData(const TStoredDataParts& parts)
{
    std::vector<std::uint8_t> body = parts.Options;
    Put<std::uint32_t>(body, std::uint32_t(parts.DebugData.size()));
    PutBytes(body, parts.DebugData);
    return body;
}

} // namespace

std::vector<std::uint8_t> BuildSectionBlock(const TStoredDataParts& parts)
{
    std::vector<std::uint8_t> out;
    Put<std::uint32_t>(out, st::kMagic);
    Put<std::uint16_t>(out, parts.Version);
    Put<double>(out, parts.BuildTime);
    if (parts.Version < st::kFirstCompressedVersion) {
        PutBytes(out, OptionsAndDebugData(parts));
        return out;
    }
    if (parts.Version < st::kFirstSectionedVersion) {
        PutBytes(out, Zlib(OptionsAndDebugData(parts)));
        return out;
    }
    Put<std::uint32_t>(out, std::uint32_t(parts.Symbols.size() * 9));
    for (const auto& s : parts.Symbols) {
        Put<std::uint8_t>(out, s.Id);
        Put<std::uint32_t>(out, s.Offset);
        Put<std::uint32_t>(out, s.Size);
    }
    const auto options = Zlib(parts.Options);
    Put<std::uint32_t>(out, std::uint32_t(options.size()));
    PutBytes(out, options);
    Put<std::uint32_t>(out, st::MakeCheckValue(parts.Password));
    std::vector<std::uint8_t> debug;
    Put<std::uint32_t>(debug, std::uint32_t(parts.DebugData.size()));
    PutBytes(debug, parts.DebugData);
    PutBytes(out, Zlib(debug));
    return out;
}

std::vector<std::uint8_t> BuildFileEndBlock(const TStoredDataParts& parts)
{
    std::vector<std::uint8_t> out;
    Put<std::uint16_t>(out, parts.Version);
    Put<double>(out, parts.BuildTime);
    PutBytes(out, OptionsAndDebugData(parts));
    const std::uint32_t length = std::uint32_t(out.size());
    Put<std::uint32_t>(out, length);
    Put<std::uint32_t>(out, st::kMagic);
    return out;
}

std::vector<std::uint8_t> BuildVersionSection(const st::TVersionNumbers& v, const std::string& description)
{
    std::vector<std::uint8_t> out;
    Put<std::uint16_t>(out, v.Major);
    Put<std::uint16_t>(out, v.Minor);
    Put<std::uint16_t>(out, v.Release);
    Put<std::uint16_t>(out, v.Build);
    Put<std::uint32_t>(out, std::uint32_t(description.size()));
    out.insert(out.end(), description.begin(), description.end());
    return out;
}

} // namespace tools
