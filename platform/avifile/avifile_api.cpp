// The AVI library's functions: reference-counted file and stream objects
// over the RIFF writer and the compressor registry.
//
// One library-wide lock serialises the calls, so handles may be used from
// any thread. Handles are checked against the set of live objects: a
// released or unknown handle gives AVIERR_BADHANDLE (0 from the release
// functions) instead of touching freed memory.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/avifile/avi_writer.h"
#include "platform/avifile/avifile.h"
#include "platform/avifile/compressor.h"

namespace avifile {

struct AVIFileObject {
    unsigned long refs = 1;
    std::string path;
    AviWriter writer;
    bool hasStream = false;
    std::vector<AVIStreamObject*> compressedStreams; // flushed before the file is finalised
};

struct AVIStreamObject {
    unsigned long refs = 1;
    AVIFileObject* file = nullptr;     // reference held
    AVIStreamObject* source = nullptr; // compressed streams: reference held on the file's stream

    // Compressed streams only.
    std::unique_ptr<VideoCompressor> compressor;
    CompressorSettings settings;
    FOURCC fourcc = 0;
    bool begun = false;
    InputFrameFormat input;
    uint32_t nextPosition = 0;                       // index the next submitted frame takes
    uint32_t emitted = 0;                            // frames the compressor has handed out
    uint32_t submitted = 0;                          // frames given to the compressor
    std::vector<std::pair<uint32_t, uint32_t>> gaps; // (submission number, empty frames before it)
    size_t bytesThisCall = 0;

    bool Compressed() const { return source != nullptr; }
};

namespace {

std::recursive_mutex& Lock()
{
    static std::recursive_mutex lock;
    return lock;
}
std::unordered_set<const void*>& Live()
{
    static std::unordered_set<const void*> live;
    return live;
}
// Files being written, to refuse a second open of one of them.
std::unordered_set<AVIFileObject*>& OpenFiles()
{
    static std::unordered_set<AVIFileObject*> files;
    return files;
}

int initCount = 0;

bool IsLive(const void* p) { return p && Live().count(p) != 0; }

// Positions past the next one are filled with empty frames; a position far
// beyond would fill the disk with them and is taken for a wrong argument.
constexpr uint32_t kMaxSkippedFrames = 1u << 20;
bool TooFarAhead(uint32_t position, uint32_t next) { return position > next && position - next > kMaxSkippedFrames; }

// Writes what a compressed stream's compressor hands out into the file,
// with the empty frames of skipped positions in front.
class StreamSink final : public FrameSink {
public:
    explicit StreamSink(AVIStreamObject& s) : s_(s) {}
    HRESULT Put(const uint8_t* data, size_t size, bool keyFrame) override
    {
        AviWriter& w = s_.file->writer;
        while (!s_.gaps.empty() && s_.gaps.front().first == s_.emitted) {
            for (uint32_t i = 0; i < s_.gaps.front().second; ++i) {
                HRESULT hr = w.WriteFrame(nullptr, 0, false);
                if (hr != AVIERR_OK) return hr;
            }
            s_.gaps.erase(s_.gaps.begin());
        }
        ++s_.emitted;
        s_.bytesThisCall += size;
        return w.WriteFrame(data, size, keyFrame);
    }

private:
    AVIStreamObject& s_;
};

HRESULT FlushCompressor(AVIStreamObject& s)
{
    if (!s.compressor || !s.begun) return AVIERR_OK;
    StreamSink sink(s);
    HRESULT hr = s.compressor->Flush(sink);
    s.begun = false;
    return hr;
}

// A file whose completion failed is of no use: remove it, but only when the
// path still names the regular file we created.
void RemoveBrokenFile(AVIFileObject& f)
{
    const BufferedFile& out = f.writer.File();
    struct stat st {};
    if (out.IsRegularFile() && ::stat(f.path.c_str(), &st) == 0 && st.st_dev == out.Device() &&
        st.st_ino == out.Inode())
        ::unlink(f.path.c_str());
}

HRESULT FinaliseFile(AVIFileObject& f)
{
    if (f.writer.Finished()) return f.writer.Finish();
    HRESULT first = AVIERR_OK;
    for (AVIStreamObject* s : f.compressedStreams) {
        HRESULT hr = FlushCompressor(*s);
        if (first == AVIERR_OK) first = hr;
    }
    HRESULT hr = f.writer.Finish();
    if (first == AVIERR_OK) first = hr;
    if (first != AVIERR_OK) RemoveBrokenFile(f);
    return first;
}

unsigned long ReleaseFile(AVIFileObject* f)
{
    if (--f->refs > 0) return f->refs;
    FinaliseFile(*f);
    Live().erase(f);
    OpenFiles().erase(f);
    delete f;
    return 0;
}

unsigned long ReleaseStream(AVIStreamObject* s)
{
    if (--s->refs > 0) return s->refs;
    Live().erase(s);
    if (s->Compressed()) {
        FlushCompressor(*s);
        auto& list = s->file->compressedStreams;
        list.erase(std::remove(list.begin(), list.end(), s), list.end());
        AVIStreamObject* source = s->source;
        delete s;
        ReleaseStream(source);
    } else {
        AVIFileObject* file = s->file;
        delete s;
        ReleaseFile(file);
    }
    return 0;
}

HRESULT SetCompressedFormat(AVIStreamObject& s, const void* format, LONG formatSize)
{
    InputFrameFormat input;
    HRESULT hr = ParseInputFormat(format, formatSize, input);
    if (hr != AVIERR_OK) return hr;
    if (s.submitted > 0 || s.file->writer.FrameCount() > 0) {
        // Frames are out already: only the same input format goes on.
        return std::memcmp(&input.header, &s.input.header, sizeof input.header) == 0 ? AVIERR_OK : AVIERR_UNSUPPORTED;
    }
    std::unique_ptr<VideoCompressor> fresh;
    hr = CreateCompressor(s.fourcc, s.settings, fresh);
    if (hr != AVIERR_OK) return hr;
    std::vector<uint8_t> outputFormat;
    hr = fresh->Begin(input, outputFormat);
    if (hr != AVIERR_OK) return hr == AVIERR_NOCOMPRESSOR ? hr : AVIERR_BADFORMAT;
    hr = s.file->writer.SetFormat(outputFormat.data(), outputFormat.size(), s.fourcc);
    if (hr != AVIERR_OK) return hr;
    s.compressor = std::move(fresh);
    s.input = input;
    s.begun = true;
    s.nextPosition = s.file->writer.FrameCount();
    return AVIERR_OK;
}

HRESULT WriteCompressed(AVIStreamObject& s, LONG start, const void* buffer, LONG bufferSize, LONG* bytesWritten)
{
    if (!s.begun) return s.compressor && s.file->writer.Finished() ? AVIERR_FILEWRITE : AVIERR_BADFORMAT;
    if (static_cast<size_t>(bufferSize) < s.input.imageSize) return AVIERR_BADSIZE;
    uint32_t position = start < 0 ? s.nextPosition : static_cast<uint32_t>(start);
    if (position < s.nextPosition) return AVIERR_UNSUPPORTED; // frames are only appended
    if (TooFarAhead(position, s.nextPosition)) return AVIERR_BADPARAM;
    if (position > s.nextPosition) s.gaps.emplace_back(s.submitted, position - s.nextPosition);
    s.bytesThisCall = 0;
    StreamSink sink(s);
    HRESULT hr = s.compressor->Compress(static_cast<const uint8_t*>(buffer), sink);
    if (hr != AVIERR_OK) {
        if (position > s.nextPosition) s.gaps.pop_back();
        return hr;
    }
    ++s.submitted;
    s.nextPosition = position + 1;
    if (bytesWritten) *bytesWritten = static_cast<LONG>(std::min<size_t>(s.bytesThisCall, INT32_MAX));
    return AVIERR_OK;
}

HRESULT WriteUncompressed(AVIStreamObject& s, LONG start, const void* buffer, LONG bufferSize, DWORD flags,
                          LONG* bytesWritten)
{
    AviWriter& w = s.file->writer;
    if (!w.HasFormat()) return AVIERR_BADFORMAT;
    const uint32_t count = w.FrameCount();
    const uint32_t position = start < 0 ? count : static_cast<uint32_t>(start);
    if (position < count) return AVIERR_UNSUPPORTED;
    if (TooFarAhead(position, count)) return AVIERR_BADPARAM;
    for (uint32_t i = count; i < position; ++i) {
        HRESULT hr = w.WriteFrame(nullptr, 0, false);
        if (hr != AVIERR_OK) return hr;
    }
    HRESULT hr = w.WriteFrame(buffer, static_cast<size_t>(bufferSize), (flags & AVIIF_KEYFRAME) != 0);
    if (hr == AVIERR_OK && bytesWritten) *bytesWritten = bufferSize;
    return hr;
}

// True when the path names a file this library is still writing: opening it
// again would truncate it under the first writer ("file in use").
bool InUse(const char* path)
{
    struct stat st {};
    if (::stat(path, &st) != 0) return false;
    for (const AVIFileObject* f : OpenFiles()) {
        const BufferedFile& out = f->writer.File();
        if (!f->writer.Finished() && out.IsRegularFile() && out.Device() == st.st_dev && out.Inode() == st.st_ino)
            return true;
    }
    return false;
}

} // namespace

HRESULT AVIFileInit()
{
    std::lock_guard<std::recursive_mutex> lock(Lock());
    ++initCount;
    return AVIERR_OK;
}

void AVIFileExit()
{
    std::lock_guard<std::recursive_mutex> lock(Lock());
    if (initCount > 0) --initCount;
}

HRESULT AVIFileOpenA(PAVIFILE* file, const char* path, UINT mode, const CLSID* handler)
{
    if (!file) return AVIERR_BADPARAM;
    *file = nullptr;
    if (!path || !*path) return AVIERR_BADPARAM;
    if (handler) return AVIERR_UNSUPPORTED;
    // Only new files are written; reading and editing are not offered.
    if ((mode & (OF_CREATE | OF_WRITE)) != (OF_CREATE | OF_WRITE)) return AVIERR_UNSUPPORTED;
    std::lock_guard<std::recursive_mutex> lock(Lock());
    if (initCount == 0) return AVIERR_ERROR;
    if (InUse(path)) return AVIERR_FILEOPEN;
    try {
        auto f = std::make_unique<AVIFileObject>();
        f->path = path;
        HRESULT hr = f->writer.Open(path);
        if (hr != AVIERR_OK) return hr;
        Live().insert(f.get());
        OpenFiles().insert(f.get());
        *file = f.release();
        return AVIERR_OK;
    } catch (const std::bad_alloc&) {
        return AVIERR_MEMORY;
    }
}

HRESULT AVIFileCreateStreamA(PAVIFILE file, PAVISTREAM* stream, const AVISTREAMINFOA* info)
{
    if (!stream) return AVIERR_BADPARAM;
    *stream = nullptr;
    std::lock_guard<std::recursive_mutex> lock(Lock());
    if (!IsLive(file)) return AVIERR_BADHANDLE;
    if (!info) return AVIERR_BADPARAM;
    if (info->fccType != streamtypeVIDEO) return AVIERR_UNSUPPORTED;
    if (file->hasStream) return AVIERR_UNSUPPORTED; // one video stream per file
    if (info->dwRate == 0 || info->dwScale == 0) return AVIERR_BADPARAM;
    try {
        AviStreamSettings st;
        st.handler = info->fccHandler;
        st.flags = info->dwFlags;
        st.priority = info->wPriority;
        st.language = info->wLanguage;
        st.initialFrames = info->dwInitialFrames;
        st.scale = info->dwScale;
        st.rate = info->dwRate;
        st.start = info->dwStart;
        st.suggestedBufferSize = info->dwSuggestedBufferSize;
        st.quality = info->dwQuality;
        st.frame = info->rcFrame;
        st.name.assign(info->szName, strnlen(info->szName, sizeof info->szName));
        auto s = std::make_unique<AVIStreamObject>();
        s->file = file;
        file->writer.SetStream(st);
        Live().insert(s.get());
        ++file->refs;
        file->hasStream = true;
        *stream = s.release();
        return AVIERR_OK;
    } catch (const std::bad_alloc&) {
        return AVIERR_MEMORY;
    }
}

unsigned long AVIFileRelease(PAVIFILE file)
{
    std::lock_guard<std::recursive_mutex> lock(Lock());
    if (!IsLive(file)) return 0;
    return ReleaseFile(file);
}

unsigned long AVIStreamRelease(PAVISTREAM stream)
{
    std::lock_guard<std::recursive_mutex> lock(Lock());
    if (!IsLive(stream)) return 0;
    return ReleaseStream(stream);
}

HRESULT AVIFileFinalize(PAVIFILE file)
{
    std::lock_guard<std::recursive_mutex> lock(Lock());
    if (!IsLive(file)) return AVIERR_BADHANDLE;
    try {
        return FinaliseFile(*file);
    } catch (const std::bad_alloc&) {
        return AVIERR_MEMORY;
    }
}

int AVIFileWriteError(PAVIFILE file)
{
    std::lock_guard<std::recursive_mutex> lock(Lock());
    if (!IsLive(file)) return 0;
    return file->writer.File().LastErrno();
}

HRESULT AVIMakeCompressedStream(PAVISTREAM* compressed, PAVISTREAM source, const AVICOMPRESSOPTIONS* options,
                                const CLSID* handler)
{
    if (!compressed) return AVIERR_BADPARAM;
    *compressed = nullptr;
    std::lock_guard<std::recursive_mutex> lock(Lock());
    if (!IsLive(source) || source->Compressed()) return AVIERR_BADHANDLE;
    if (!options) return AVIERR_BADPARAM;
    if (handler) return AVIERR_UNSUPPORTED;
    if (options->fccType != 0 && options->fccType != streamtypeVIDEO) return AVIERR_UNSUPPORTED;
    try {
        auto s = std::make_unique<AVIStreamObject>();
        s->settings.quality = options->dwQuality;
        s->settings.bytesPerSecond = (options->dwFlags & AVICOMPRESSF_DATARATE) ? options->dwBytesPerSecond : 0;
        s->settings.keyFrameEvery = options->dwKeyFrameEvery;
        s->settings.rate = source->file->writer.Stream().rate;
        s->settings.scale = source->file->writer.Stream().scale;
        CompressorInfo info;
        HRESULT hr = CreateCompressor(options->fccHandler, s->settings, s->compressor, &info);
        if (hr != AVIERR_OK) return hr;
        s->fourcc = info.fourcc;
        s->file = source->file;
        s->source = source;
        ++source->refs;
        source->file->compressedStreams.push_back(s.get());
        Live().insert(s.get());
        *compressed = s.release();
        return AVIERR_OK;
    } catch (const std::bad_alloc&) {
        return AVIERR_MEMORY;
    }
}

HRESULT AVIStreamSetFormat(PAVISTREAM stream, LONG position, const void* format, LONG formatSize)
{
    std::lock_guard<std::recursive_mutex> lock(Lock());
    if (!IsLive(stream)) return AVIERR_BADHANDLE;
    if (!format || formatSize <= 0) return AVIERR_BADPARAM;
    if (position < 0) return AVIERR_BADPARAM;
    try {
        if (stream->Compressed()) return SetCompressedFormat(*stream, format, formatSize);
        return stream->file->writer.SetFormat(format, static_cast<size_t>(formatSize), 0);
    } catch (const std::bad_alloc&) {
        return AVIERR_MEMORY;
    }
}

HRESULT AVIStreamWrite(PAVISTREAM stream, LONG start, LONG samples, const void* buffer, LONG bufferSize, DWORD flags,
                       LONG* samplesWritten, LONG* bytesWritten)
{
    if (samplesWritten) *samplesWritten = 0;
    if (bytesWritten) *bytesWritten = 0;
    std::lock_guard<std::recursive_mutex> lock(Lock());
    if (!IsLive(stream)) return AVIERR_BADHANDLE;
    if (samples != 1 || !buffer || bufferSize < 0) return AVIERR_BADPARAM;
    if (stream->file->writer.Finished()) return AVIERR_FILEWRITE;
    try {
        HRESULT hr = stream->Compressed() ? WriteCompressed(*stream, start, buffer, bufferSize, bytesWritten)
                                          : WriteUncompressed(*stream, start, buffer, bufferSize, flags, bytesWritten);
        if (hr == AVIERR_OK && samplesWritten) *samplesWritten = 1;
        return hr;
    } catch (const std::bad_alloc&) {
        return AVIERR_MEMORY;
    }
}

} // namespace avifile
