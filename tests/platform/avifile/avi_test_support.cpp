#include "avi_test_support.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace avitest {

using namespace avifile;

CommandResult Run(const std::string& command)
{
    CommandResult r;
    r.output = testing_support::RunCommand(command, &r.exitCode);
    return r;
}

Frame MakePicture(int width, int height, int n)
{
    Frame f;
    f.width = width;
    f.height = height;
    f.stride = ((static_cast<size_t>(width) * 24 + 31) / 32) * 4;
    f.bits.assign(f.stride * height, 0xAB); // padding bytes are not zero on purpose
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = f.At(x, y);
            // Smooth gradients, a sharp-edged moving square, and a little texture.
            int r = (x * 255) / std::max(1, width - 1);
            int g = (y * 255) / std::max(1, height - 1);
            int b = ((x + y + 4 * n) * 3) & 255;
            int sx = (n * 5) % std::max(1, width), sy = (n * 3) % std::max(1, height);
            if (x >= sx && x < sx + width / 4 && y >= sy && y < sy + height / 4) r = 255 - r, g = 40, b = 220;
            if (((x / 8) + (y / 8)) % 7 == 0) g = (g + 64) & 255;
            p[0] = static_cast<uint8_t>(b);
            p[1] = static_cast<uint8_t>(g);
            p[2] = static_cast<uint8_t>(r);
        }
    }
    return f;
}

std::vector<uint8_t> TopDownBgr(const Frame& frame)
{
    std::vector<uint8_t> out;
    out.reserve(static_cast<size_t>(frame.width) * frame.height * 3);
    for (int y = 0; y < frame.height; ++y) {
        const uint8_t* row = frame.bits.data() + static_cast<size_t>(frame.height - 1 - y) * frame.stride;
        out.insert(out.end(), row, row + frame.width * 3);
    }
    return out;
}

gdi::BITMAPINFOHEADER HeaderFor(const Frame& frame)
{
    gdi::BITMAPINFOHEADER h{};
    h.biSize = 40;
    h.biWidth = frame.width;
    h.biHeight = frame.height;
    h.biPlanes = 1;
    h.biBitCount = 24;
    h.biSizeImage = static_cast<uint32_t>(frame.stride * frame.height);
    return h;
}

namespace {
std::string Hex(HRESULT hr)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
    return buf;
}
} // namespace

OpenedStream::OpenedStream(const std::string& path, const WriteOptions& options, const gdi::BITMAPINFOHEADER& header,
                           DWORD suggestedBufferSize)
{
    AVIFileInit();
    HRESULT hr = AVIFileOpenA(&file_, path.c_str(), OF_CREATE | OF_WRITE, nullptr);
    if (hr != AVIERR_OK) error_ = "AVIFileOpenA: " + Hex(hr);
    if (error_.empty()) {
        AVISTREAMINFOA info{};
        info.fccType = streamtypeVIDEO;
        info.dwScale = 1;
        info.dwRate = static_cast<DWORD>(options.fps);
        info.dwSuggestedBufferSize = suggestedBufferSize;
        info.rcFrame = RECT{0, 0, header.biWidth, header.biHeight < 0 ? -header.biHeight : header.biHeight};
        hr = AVIFileCreateStreamA(file_, &stream_, &info);
        if (hr != AVIERR_OK) error_ = "AVIFileCreateStreamA: " + Hex(hr);
    }
    if (error_.empty()) {
        AVICOMPRESSOPTIONS opts{};
        opts.fccType = streamtypeVIDEO;
        opts.fccHandler = StringToFourCC(options.fourcc);
        opts.dwQuality = options.quality;
        if (options.bytesPerSecond) {
            opts.dwBytesPerSecond = options.bytesPerSecond;
            opts.dwFlags = AVICOMPRESSF_DATARATE;
        }
        hr = AVIMakeCompressedStream(&compressed_, stream_, &opts, nullptr);
        if (hr != AVIERR_OK) error_ = "AVIMakeCompressedStream: " + Hex(hr);
    }
    if (error_.empty()) {
        hr = AVIStreamSetFormat(compressed_, 0, &header, sizeof header);
        if (hr != AVIERR_OK) error_ = "AVIStreamSetFormat: " + Hex(hr);
    }
}

HRESULT OpenedStream::Write(LONG position, const Frame& frame)
{
    if (!error_.empty()) return AVIERR_ERROR;
    return AVIStreamWrite(compressed_, position, 1, frame.bits.data(), static_cast<LONG>(frame.bits.size()),
                          AVIIF_KEYFRAME, nullptr, nullptr);
}

unsigned long OpenedStream::Release()
{
    if (released_) return 0;
    released_ = true;
    AVIFileExit(); // before the releases, as the recorder does
    if (stream_) AVIStreamRelease(stream_);
    if (compressed_) AVIStreamRelease(compressed_);
    return file_ ? AVIFileRelease(file_) : 0;
}

std::string WriteAvi(const std::string& path, const std::vector<Frame>& frames, const WriteOptions& options)
{
    if (frames.empty()) return "no frames to take the size from";
    gdi::BITMAPINFOHEADER header = HeaderFor(frames.front());
    OpenedStream out(path, options, header, header.biSizeImage);
    for (size_t i = 0; out.Error().empty() && i < frames.size(); ++i) {
        HRESULT hr = out.Write(static_cast<LONG>(i), frames[i]);
        if (hr != AVIERR_OK) return "AVIStreamWrite: " + Hex(hr);
    }
    return out.Error();
}

ProbeInfo Probe(const std::string& path)
{
    ProbeInfo info;
    CommandResult r =
        Run("ffprobe -v error -show_entries format=nb_streams:stream=codec_name,width,height,pix_fmt,nb_frames"
            " -of default=nw=1 " +
            Quote(path));
    if (r.exitCode != 0) return info;
    std::istringstream lines(r.output);
    std::string line;
    while (std::getline(lines, line)) {
        auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "nb_streams")
            info.streams = std::atoi(value.c_str());
        else if (key == "codec_name")
            info.codec = value;
        else if (key == "pix_fmt")
            info.pixFmt = value;
        else if (key == "width")
            info.width = std::atoi(value.c_str());
        else if (key == "height")
            info.height = std::atoi(value.c_str());
        else if (key == "nb_frames" && value != "N/A")
            info.nbFrames = std::atol(value.c_str());
    }
    r = Run("ffprobe -v error -select_streams v:0 -show_entries packet=flags -of csv=p=0 " + Quote(path));
    if (r.exitCode != 0) return info;
    info.packets = info.keyPackets = 0;
    std::istringstream packets(r.output);
    while (std::getline(packets, line)) {
        if (line.empty()) continue;
        ++info.packets;
        if (line[0] == 'K') ++info.keyPackets;
    }
    return info;
}

std::vector<uint8_t> Decode(const std::string& path, const std::string& pixFmt)
{
    std::string out = path + "." + pixFmt + ".raw";
    CommandResult r =
        Run("ffmpeg -v error -y -i " + Quote(path) + " -f rawvideo -pix_fmt " + pixFmt + " " + Quote(out));
    std::vector<uint8_t> bytes;
    if (r.exitCode == 0) {
        std::ifstream in(out, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::remove(out.c_str());
    return bytes;
}

uint64_t FileSize(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

namespace {

// The file mapped into memory: the index checks jump around a lot.
class Reader {
public:
    explicit Reader(const std::string& path)
    {
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && st.st_size > 0) {
            size_ = static_cast<uint64_t>(st.st_size);
            void* p = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
            if (p != MAP_FAILED) data_ = static_cast<const uint8_t*>(p);
        }
        ::close(fd);
    }
    ~Reader()
    {
        if (data_) ::munmap(const_cast<uint8_t*>(data_), size_);
    }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;
    bool Ok() const { return data_ != nullptr; }
    uint32_t U32(uint64_t offset) const
    {
        if (!data_ || offset + 4 > size_ || offset + 4 < offset)
            throw std::runtime_error("read past the end at " + std::to_string(offset));
        uint32_t v;
        std::memcpy(&v, data_ + offset, 4);
        return v;
    }
    std::string Code(uint64_t offset) const { return FourCCToString(U32(offset)); }

private:
    const uint8_t* data_ = nullptr;
    uint64_t size_ = 0;
};

bool IsFrameChunk(const std::string& id)
{
    return id.size() == 4 && id[0] == '0' && id[1] == '0' && (id.substr(2) == "dc" || id.substr(2) == "db");
}

void WalkList(Reader& rd, uint64_t begin, uint64_t end, RiffInfo& info, uint64_t& moviBase, uint64_t fileSize)
{
    uint64_t pos = begin;
    while (pos + 8 <= end) {
        std::string id = rd.Code(pos);
        uint32_t size = rd.U32(pos + 4);
        uint64_t data = pos + 8;
        if (data + size > end) throw std::runtime_error("chunk " + id + " runs past its list");
        if (id == "LIST") {
            if (rd.Code(data) == "movi") moviBase = data; // idx1 offsets count from the "movi" code
            WalkList(rd, data + 4, data + size, info, moviBase, fileSize);
        } else if (id == "avih") {
            info.avihTotalFrames = rd.U32(data + 16);
        } else if (id == "strh") {
            info.strhHandler = rd.Code(data + 4);
            info.strhLength = rd.U32(data + 32);
        } else if (id == "strf") {
            info.strfCompression = rd.U32(data + 16);
        } else if (id == "dmlh") {
            info.dmlhTotalFrames = rd.U32(data);
        } else if (id == "indx") {
            info.superIndexEntries = rd.U32(data + 4);
            for (uint32_t i = 0; i < info.superIndexEntries; ++i) {
                uint64_t e = data + 24 + 16ull * i;
                uint64_t ixOffset = rd.U32(e) | (static_cast<uint64_t>(rd.U32(e + 4)) << 32);
                uint32_t duration = rd.U32(e + 12);
                if (rd.Code(ixOffset) != "ix00") throw std::runtime_error("super index entry does not point at ix00");
                uint32_t entries = rd.U32(ixOffset + 12);
                if (entries != duration) throw std::runtime_error("ix00 entry count differs from its duration");
                uint64_t base = rd.U32(ixOffset + 20) | (static_cast<uint64_t>(rd.U32(ixOffset + 24)) << 32);
                for (uint32_t k = 0; k < entries; ++k) {
                    uint64_t chunkData = base + rd.U32(ixOffset + 32 + 8ull * k);
                    uint32_t chunkSize = rd.U32(ixOffset + 36 + 8ull * k) & 0x7FFFFFFF;
                    if (chunkData + chunkSize > fileSize || !IsFrameChunk(rd.Code(chunkData - 8)) ||
                        rd.U32(chunkData - 4) != chunkSize)
                        throw std::runtime_error("ix00 entry does not point at its frame");
                }
                info.standardIndexFrames += entries;
            }
        } else if (id == "idx1") {
            info.idx1Entries = size / 16;
            for (uint32_t i = 0; i < info.idx1Entries; ++i) {
                uint64_t e = data + 16ull * i;
                if (rd.U32(e + 4) & AVIIF_KEYFRAME) ++info.idx1KeyEntries;
                uint64_t chunk = moviBase + rd.U32(e + 8);
                if (rd.U32(chunk) != rd.U32(e) || rd.U32(chunk + 4) != rd.U32(e + 12))
                    throw std::runtime_error("idx1 entry does not point at its frame");
            }
        } else if (IsFrameChunk(id)) {
            ++info.movieChunks;
            info.chunkSizes.push_back(size);
        }
        pos = data + size + (size & 1);
    }
}

} // namespace

RiffInfo ReadRiff(const std::string& path)
{
    RiffInfo info;
    Reader rd(path);
    const uint64_t fileSize = FileSize(path);
    try {
        if (!rd.Ok()) throw std::runtime_error("cannot open");
        uint64_t pos = 0;
        while (pos < fileSize) {
            if (rd.Code(pos) != "RIFF") throw std::runtime_error("no RIFF at " + std::to_string(pos));
            uint32_t size = rd.U32(pos + 4);
            std::string form = rd.Code(pos + 8);
            if (pos + 8 + size > fileSize) throw std::runtime_error("RIFF list runs past the file end");
            info.riffForms.push_back(form);
            info.riffSizes.push_back(8ull + size);
            uint64_t moviBase = 0;
            WalkList(rd, pos + 12, pos + 8 + size, info, moviBase, fileSize);
            pos += 8ull + size + (size & 1);
        }
        info.valid = !info.riffForms.empty() && info.riffForms[0] == "AVI ";
        if (!info.valid) info.error = "first list is not RIFF AVI";
    } catch (const std::exception& e) {
        info.error = e.what();
    }
    return info;
}

} // namespace avitest
