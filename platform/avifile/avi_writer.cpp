#include "platform/avifile/avi_writer.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <limits>

#include "platform/gdi/dib.h"

namespace avifile {

using namespace riff;

namespace {

void Put(std::vector<uint8_t>& out, const void* data, size_t size)
{
    const auto* p = static_cast<const uint8_t*>(data);
    out.insert(out.end(), p, p + size);
}
void Put32(std::vector<uint8_t>& out, uint32_t value) { Put(out, &value, 4); }
void PutCode(std::vector<uint8_t>& out, const char (&code)[5]) { Put32(out, FourCC(code)); }
void PutChunk(std::vector<uint8_t>& out, const char (&code)[5], const void* data, size_t size)
{
    PutCode(out, code);
    Put32(out, static_cast<uint32_t>(size));
    Put(out, data, size);
    if (size & 1) out.push_back(0);
}

int16_t ClampShort(LONG v)
{
    return static_cast<int16_t>(
        std::clamp<LONG>(v, std::numeric_limits<int16_t>::min(), std::numeric_limits<int16_t>::max()));
}

uint32_t Saturate32(uint64_t v) { return v > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(v); }

} // namespace

HRESULT AviWriter::Open(const std::string& path)
{
    if (path.empty()) return AVIERR_FILEOPEN;
    if (file_.Create(path) != 0) return AVIERR_FILEOPEN;
    standardIndex_.reserve(4096);
    legacyIndex_.reserve(4096);
    return AVIERR_OK;
}

HRESULT AviWriter::Attach(int fd)
{
    if (file_.Attach(fd) != 0) return AVIERR_FILEOPEN;
    standardIndex_.reserve(4096);
    legacyIndex_.reserve(4096);
    return AVIERR_OK;
}

HRESULT AviWriter::SetFormat(const void* format, size_t size, FOURCC handler)
{
    if (!format || size < sizeof(gdi::BITMAPINFOHEADER) || size > (1u << 20)) return AVIERR_BADFORMAT;
    const auto* bytes = static_cast<const uint8_t*>(format);
    if (headersWritten_) {
        // The format is in the file already; only the same one is accepted.
        bool same = size == format_.size() && std::memcmp(bytes, format_.data(), size) == 0;
        return same ? AVIERR_OK : AVIERR_UNSUPPORTED;
    }
    format_.assign(bytes, bytes + size);
    if (handler) settings_.handler = handler;
    gdi::BITMAPINFOHEADER header;
    std::memcpy(&header, bytes, sizeof header);
    chunkId_ = header.biCompression == gdi::BI_RGB ? FourCC("00db") : FourCC("00dc");
    return AVIERR_OK;
}

bool AviWriter::EnsureFormat()
{
    if (HasFormat()) return true;
    // A stream whose format was never set still gets a readable header:
    // full frames of the size of its frame rectangle.
    gdi::BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = std::max<LONG>(0, settings_.frame.right - settings_.frame.left);
    header.biHeight = std::max<LONG>(0, settings_.frame.bottom - settings_.frame.top);
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biSizeImage = static_cast<uint32_t>(gdi::Bitmap::StrideFor(header.biWidth) * header.biHeight);
    return SetFormat(&header, sizeof header, 0) == AVIERR_OK;
}

MainHeader AviWriter::BuildMainHeader() const
{
    gdi::BITMAPINFOHEADER bih;
    std::memcpy(&bih, format_.data(), sizeof bih);
    MainHeader h{};
    const uint64_t rate = std::max<DWORD>(settings_.rate, 1);
    const uint64_t scale = std::max<DWORD>(settings_.scale, 1);
    h.dwMicroSecPerFrame = Saturate32((scale * 1000000u + rate / 2) / rate);
    h.dwMaxBytesPerSec = Saturate32(uint64_t{largestChunk_} * rate / scale);
    h.dwFlags = AVIF_HASINDEX | AVIF_ISINTERLEAVED;
    h.dwTotalFrames = segments_ > 1 ? firstRiffFrames_ : totalFrames_;
    h.dwInitialFrames = settings_.initialFrames;
    h.dwStreams = 1;
    h.dwSuggestedBufferSize = std::max<uint32_t>(settings_.suggestedBufferSize, largestChunk_);
    h.dwWidth = static_cast<uint32_t>(std::max(0, bih.biWidth));
    h.dwHeight = static_cast<uint32_t>(bih.biHeight < 0 ? -static_cast<int64_t>(bih.biHeight) : bih.biHeight);
    return h;
}

StreamHeader AviWriter::BuildStreamHeader() const
{
    gdi::BITMAPINFOHEADER bih;
    std::memcpy(&bih, format_.data(), sizeof bih);
    StreamHeader h{};
    h.fccType = streamtypeVIDEO;
    h.fccHandler = settings_.handler;
    h.dwFlags = settings_.flags;
    h.wPriority = settings_.priority;
    h.wLanguage = settings_.language;
    h.dwInitialFrames = settings_.initialFrames;
    h.dwScale = settings_.scale;
    h.dwRate = settings_.rate;
    h.dwStart = settings_.start;
    h.dwLength = totalFrames_;
    h.dwSuggestedBufferSize = std::max<uint32_t>(settings_.suggestedBufferSize, largestChunk_);
    h.dwQuality = settings_.quality;
    h.dwSampleSize = 0;
    RECT r = settings_.frame;
    if (r.right <= r.left || r.bottom <= r.top) {
        r = RECT{0, 0, bih.biWidth, bih.biHeight < 0 ? -bih.biHeight : bih.biHeight};
    }
    h.left = ClampShort(r.left);
    h.top = ClampShort(r.top);
    h.right = ClampShort(r.right);
    h.bottom = ClampShort(r.bottom);
    return h;
}

HRESULT AviWriter::WriteHeaders()
{
    if (!EnsureFormat()) return AVIERR_BADFORMAT;

    std::vector<uint8_t> strl;
    PutCode(strl, "strl");
    const uint64_t strhInStrl = strl.size() + 8;
    StreamHeader strh = BuildStreamHeader();
    PutChunk(strl, "strh", &strh, sizeof strh);
    PutChunk(strl, "strf", format_.data(), format_.size());
    if (!settings_.name.empty()) PutChunk(strl, "strn", settings_.name.c_str(), settings_.name.size() + 1);
    // Room for the super index; stays JUNK unless the file grows past one RIFF list.
    const uint64_t superInStrl = strl.size();
    std::vector<uint8_t> super(kSuperIndexBytes, 0);
    IndexHeader sh{};
    sh.wLongsPerEntry = 4;
    sh.bIndexType = AVI_INDEX_OF_INDEXES;
    sh.dwChunkId = chunkId_;
    std::memcpy(super.data(), &sh, sizeof sh);
    PutChunk(strl, "JUNK", super.data(), super.size());

    std::vector<uint8_t> hdrl;
    PutCode(hdrl, "hdrl");
    const uint64_t avihInHdrl = hdrl.size() + 8;
    MainHeader avih = BuildMainHeader();
    PutChunk(hdrl, "avih", &avih, sizeof avih);
    const uint64_t strlInHdrl = hdrl.size() + 8;
    PutCode(hdrl, "LIST");
    Put32(hdrl, static_cast<uint32_t>(strl.size()));
    Put(hdrl, strl.data(), strl.size());
    // Room for the "odml" list with its "dmlh" record.
    const uint64_t odmlInHdrl = hdrl.size();
    std::vector<uint8_t> odml;
    PutCode(odml, "odml");
    PutCode(odml, "dmlh");
    Put32(odml, kDmlhSize);
    odml.resize(odml.size() + kDmlhSize, 0);
    PutChunk(hdrl, "JUNK", odml.data(), odml.size());

    std::vector<uint8_t> head;
    PutCode(head, "RIFF");
    Put32(head, 0); // patched when the list closes
    PutCode(head, "AVI ");
    const uint64_t hdrlStart = head.size() + 8;
    PutCode(head, "LIST");
    Put32(head, static_cast<uint32_t>(hdrl.size()));
    Put(head, hdrl.data(), hdrl.size());

    avihOffset_ = hdrlStart + avihInHdrl;
    strhOffset_ = hdrlStart + strlInHdrl + strhInStrl;
    superIndexOffset_ = hdrlStart + strlInHdrl + superInStrl;
    odmlOffset_ = hdrlStart + odmlInHdrl;

    riffStart_ = 0;
    PutCode(head, "LIST");
    Put32(head, 0);
    moviStart_ = head.size();
    PutCode(head, "movi");
    segments_ = 1;
    segmentFrames_ = 0;
    headersWritten_ = true;
    if (!file_.Write(head.data(), head.size())) return AVIERR_FILEWRITE;
    return AVIERR_OK;
}

bool AviWriter::OpenSegment()
{
    riffStart_ = file_.Position();
    uint32_t head[5] = {FourCC("RIFF"), 0, FourCC("AVIX"), FourCC("LIST"), 0};
    if (!file_.Write(head, sizeof head)) return false;
    moviStart_ = file_.Position();
    uint32_t movi = FourCC("movi");
    if (!file_.Write(&movi, 4)) return false;
    ++segments_;
    segmentFrames_ = 0;
    standardIndex_.clear();
    return true;
}

bool AviWriter::CloseSegment(bool withStandardIndex)
{
    if (withStandardIndex) {
        const uint64_t ixStart = file_.Position();
        const size_t entriesBytes = standardIndex_.size() * sizeof(StandardIndexEntry);
        uint32_t head[2] = {FourCC("ix00"), static_cast<uint32_t>(sizeof(IndexHeader) + entriesBytes)};
        IndexHeader ix{};
        ix.wLongsPerEntry = 2;
        ix.bIndexType = AVI_INDEX_OF_CHUNKS;
        ix.nEntriesInUse = static_cast<uint32_t>(standardIndex_.size());
        ix.dwChunkId = chunkId_;
        ix.dwReserved[0] = static_cast<uint32_t>(moviStart_);
        ix.dwReserved[1] = static_cast<uint32_t>(moviStart_ >> 32);
        if (!file_.Write(head, sizeof head) || !file_.Write(&ix, sizeof ix) ||
            !file_.Write(standardIndex_.data(), entriesBytes))
            return false;
        superIndex_.push_back({ixStart, static_cast<uint32_t>(file_.Position() - ixStart), segmentFrames_});
    }
    const uint64_t moviEnd = file_.Position();
    if (!file_.Patch32(moviStart_ - 4, static_cast<uint32_t>(moviEnd - moviStart_))) return false;
    if (segments_ == 1) {
        uint32_t head[2] = {FourCC("idx1"), static_cast<uint32_t>(legacyIndex_.size() * sizeof(LegacyIndexEntry))};
        if (!file_.Write(head, sizeof head) ||
            !file_.Write(legacyIndex_.data(), legacyIndex_.size() * sizeof(LegacyIndexEntry)))
            return false;
        firstRiffFrames_ = segmentFrames_;
        legacyIndex_.clear();
        legacyIndex_.shrink_to_fit();
    }
    const uint64_t riffEnd = file_.Position();
    return file_.Patch32(riffStart_ + 4, static_cast<uint32_t>(riffEnd - riffStart_ - 8));
}

HRESULT AviWriter::WriteFrame(const void* data, size_t size, bool keyFrame)
{
    if (finished_) return AVIERR_FILEWRITE;
    if (file_.Failed()) return AVIERR_FILEWRITE;
    if (size > kMaxFrameBytes || (size > 0 && !data)) return AVIERR_BADSIZE;
    if (!headersWritten_) {
        HRESULT hr = WriteHeaders();
        if (hr != AVIERR_OK) return hr;
    }
    const uint64_t padded = size + (size & 1);
    const uint64_t n = segmentFrames_ + 1;
    uint64_t end = file_.Position() + 8 + padded + 8 + sizeof(IndexHeader) + n * sizeof(StandardIndexEntry);
    if (segments_ == 1) end += 8 + n * sizeof(LegacyIndexEntry);
    if (segmentFrames_ > 0 && (end - riffStart_ > kRiffLimit || segmentFrames_ >= kMaxSegmentFrames)) {
        // The super index has a fixed size; past it the file stays as it is.
        if (superIndex_.size() + 1 >= kSuperIndexEntries) return AVIERR_BADSIZE;
        if (!CloseSegment(true) || !OpenSegment()) return AVIERR_FILEWRITE;
    }
    if (totalFrames_ == std::numeric_limits<uint32_t>::max()) return AVIERR_BADSIZE;

    const uint64_t chunkPos = file_.Position();
    uint32_t head[2] = {chunkId_, static_cast<uint32_t>(size)};
    if (!file_.WriteGather(head, sizeof head, data, size, size & 1)) return AVIERR_FILEWRITE;

    standardIndex_.push_back({static_cast<uint32_t>(chunkPos + 8 - moviStart_),
                              static_cast<uint32_t>(size) | (keyFrame ? 0u : kNotKeyFrameBit)});
    if (segments_ == 1)
        legacyIndex_.push_back({chunkId_, keyFrame ? AVIIF_KEYFRAME : 0u, static_cast<uint32_t>(chunkPos - moviStart_),
                                static_cast<uint32_t>(size)});
    ++segmentFrames_;
    ++totalFrames_;
    largestChunk_ = std::max(largestChunk_, static_cast<uint32_t>(size));
    return AVIERR_OK;
}

bool AviWriter::PatchHeaders()
{
    MainHeader avih = BuildMainHeader();
    StreamHeader strh = BuildStreamHeader();
    if (!file_.Patch(avihOffset_, &avih, sizeof avih) || !file_.Patch(strhOffset_, &strh, sizeof strh)) return false;
    if (segments_ < 2) return true;

    // The file became OpenDML: the reserved JUNK turns into the real records.
    std::vector<uint8_t> super(8 + kSuperIndexBytes, 0);
    uint32_t head[2] = {FourCC("indx"), kSuperIndexBytes};
    IndexHeader sh{};
    sh.wLongsPerEntry = 4;
    sh.bIndexType = AVI_INDEX_OF_INDEXES;
    sh.nEntriesInUse = static_cast<uint32_t>(superIndex_.size());
    sh.dwChunkId = chunkId_;
    std::memcpy(super.data(), head, sizeof head);
    std::memcpy(super.data() + 8, &sh, sizeof sh);
    std::memcpy(super.data() + 8 + sizeof sh, superIndex_.data(), superIndex_.size() * sizeof(SuperIndexEntry));
    if (!file_.Patch(superIndexOffset_, super.data(), super.size())) return false;

    uint32_t odml[5] = {FourCC("LIST"), 4 + 8 + kDmlhSize, FourCC("odml"), FourCC("dmlh"), kDmlhSize};
    if (!file_.Patch(odmlOffset_, odml, sizeof odml)) return false;
    return file_.Patch32(odmlOffset_ + sizeof odml, totalFrames_);
}

HRESULT AviWriter::Finish()
{
    if (finished_) return finishResult_;
    finished_ = true;
    HRESULT hr = AVIERR_OK;
    if (file_.Failed()) hr = AVIERR_FILEWRITE;
    if (hr == AVIERR_OK && !headersWritten_) hr = WriteHeaders();
    if (hr == AVIERR_OK && (!CloseSegment(segments_ > 1) || !PatchHeaders())) hr = AVIERR_FILEWRITE;
    if (!file_.Close() && hr == AVIERR_OK) hr = AVIERR_FILEWRITE;
    standardIndex_ = {};
    legacyIndex_ = {};
    finishResult_ = hr;
    return hr;
}

} // namespace avifile
