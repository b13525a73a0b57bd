#include "platform/avifile/compressor.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/avifile/dib_compressor.h"
#include "platform/avifile/lavc_compressor.h"
#include "platform/avifile/msvideo1_encoder.h"

namespace avifile {

namespace {

enum class Backend { Dib, MsVideo1, Lavc };

struct Entry {
    CompressorInfo info;
    Backend backend;
    LavcCodecSetup lavc;
};

const std::vector<Entry>& Entries()
{
    static const std::vector<Entry> entries = {
        {{FourCC("DIB "), "Full Frames (Uncompressed)", true, false, false, 1, 1, 0}, Backend::Dib, {}},
        {{FourCC("MSVC"), "Microsoft Video 1", false, true, false, 4, 4, MsVideo1Encoder::kDefaultQuality},
         Backend::MsVideo1,
         {}},
        {{FourCC("divx"), "MPEG-4 Visual (DivX compatible, intra frames)", false, true, true, 1, 1, 7500},
         Backend::Lavc,
         {LavcCodec::Mpeg4, FourCC("DIVX"), 7500}},
        {{FourCC("MJPG"), "Motion JPEG", false, true, true, 1, 1, 7500},
         Backend::Lavc,
         {LavcCodec::Mjpeg, FourCC("MJPG"), 7500}},
        {{FourCC("HFYU"), "Huffyuv (lossless)", true, false, false, 1, 1, 0},
         Backend::Lavc,
         {LavcCodec::Huffyuv, FourCC("HFYU"), 0}},
        {{FourCC("FFV1"), "FFV1 (lossless)", true, false, false, 1, 1, 0},
         Backend::Lavc,
         {LavcCodec::Ffv1, FourCC("FFV1"), 0}},
    };
    return entries;
}

bool Available(const Entry& e) { return e.backend != Backend::Lavc || LavcAvailable(e.lavc.codec); }

// The availability of the library encoders does not change while we run.
const std::vector<const Entry*>& Installed()
{
    static const std::vector<const Entry*> installed = [] {
        std::vector<const Entry*> list;
        for (const Entry& e : Entries())
            if (Available(e)) list.push_back(&e);
        return list;
    }();
    return installed;
}

uint32_t Lower(FOURCC code)
{
    uint32_t out = 0;
    for (int i = 0; i < 4; ++i)
        out |= static_cast<uint32_t>(std::tolower(static_cast<unsigned char>(code >> (8 * i)))) << (8 * i);
    return out;
}

// Only the entry asked for is checked: finding "DIB " or "MSVC" loads no
// library encoder.
const Entry* Find(FOURCC fourcc)
{
    if (fourcc == 0) return nullptr;
    for (const Entry& e : Entries())
        if (Lower(e.info.fourcc) == Lower(fourcc)) return Available(e) ? &e : nullptr;
    return nullptr;
}

} // namespace

std::vector<CompressorInfo> InstalledCompressors()
{
    std::vector<CompressorInfo> list;
    for (const Entry* e : Installed()) list.push_back(e->info);
    return list;
}

bool FindCompressor(FOURCC fourcc, CompressorInfo* info)
{
    const Entry* e = Find(fourcc);
    if (e && info) *info = e->info;
    return e != nullptr;
}

HRESULT CreateCompressor(FOURCC fourcc, const CompressorSettings& settings, std::unique_ptr<VideoCompressor>& out,
                         CompressorInfo* info)
{
    const Entry* e = Find(fourcc);
    if (!e) return AVIERR_NOCOMPRESSOR;
    switch (e->backend) {
    case Backend::Dib: out = std::make_unique<DibCompressor>(); break;
    case Backend::MsVideo1: out = std::make_unique<MsVideo1Encoder>(settings.quality); break;
    case Backend::Lavc: out = MakeLavcCompressor(e->lavc, settings); break;
    }
    if (info) *info = e->info;
    return out ? AVIERR_OK : AVIERR_MEMORY;
}

DWORD EffectiveQuality(DWORD quality, DWORD compressorDefault)
{
    if (quality == ICQUALITY_DEFAULT) return compressorDefault;
    return std::min<DWORD>(quality, ICQUALITY_HIGH);
}

gdi::BITMAPINFOHEADER CompressedHeader(const InputFrameFormat& input, FOURCC compression, uint16_t bitCount,
                                       uint32_t extraBytes)
{
    gdi::BITMAPINFOHEADER h{};
    h.biSize = static_cast<uint32_t>(sizeof h + extraBytes);
    h.biWidth = input.width;
    h.biHeight = input.height;
    h.biPlanes = 1;
    h.biBitCount = bitCount;
    h.biCompression = compression;
    h.biSizeImage = static_cast<uint32_t>(static_cast<size_t>(input.width) * input.height * 3);
    return h;
}

} // namespace avifile
