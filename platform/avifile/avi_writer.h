#pragma once
// Writes one video stream as a RIFF AVI file.
//
// Nothing but the empty file exists until the first frame (or Finish): the
// headers need the stream format, which the caller sets after creating the
// stream. Header fields that depend on the frames (counts, sizes, indexes)
// are written as placeholders and patched by Finish.
//
// Small files are plain AVI 1.0 (hdrl, movi, idx1) carrying JUNK chunks
// where the OpenDML records would go. When the next frame would take the
// first RIFF list past 1 GiB, the writer closes it with its own "ix00"
// standard index and its "idx1", and continues in "RIFF AVIX" lists; Finish
// then turns the reserved JUNK into the "indx" super index and the
// "odml"/"dmlh" list with the total frame count.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/avifile/avifile.h"
#include "platform/avifile/buffered_file.h"
#include "platform/avifile/riff_layout.h"

namespace avifile {

struct AviStreamSettings {
    FOURCC handler = 0;
    DWORD flags = 0;
    uint16_t priority = 0;
    uint16_t language = 0;
    DWORD initialFrames = 0;
    DWORD scale = 1;
    DWORD rate = 25;
    DWORD start = 0;
    DWORD suggestedBufferSize = 0;
    DWORD quality = 0;
    RECT frame{};
    std::string name; // "strn", written when not empty
};

class AviWriter {
public:
    AviWriter() = default;
    AviWriter(const AviWriter&) = delete;
    AviWriter& operator=(const AviWriter&) = delete;

    // Creates or replaces the file. AVIERR_FILEOPEN on failure.
    HRESULT Open(const std::string& path);
    // Writes into an open, empty file whose descriptor stays its owner's:
    // Finish flushes and completes the file but does not close it.
    HRESULT Attach(int fd);

    void SetStream(const AviStreamSettings& settings) { settings_ = settings; }
    const AviStreamSettings& Stream() const { return settings_; }

    // The "strf" contents: a BITMAPINFOHEADER (at least 40 bytes), possibly
    // followed by codec data. Only before the first frame; the same format
    // again is accepted later.
    HRESULT SetFormat(const void* format, size_t size, FOURCC handler);
    bool HasFormat() const { return !format_.empty(); }
    const std::vector<uint8_t>& Format() const { return format_; }

    // Appends one frame (size 0: an empty, dropped frame).
    HRESULT WriteFrame(const void* data, size_t size, bool keyFrame);
    uint32_t FrameCount() const { return totalFrames_; }
    uint32_t RiffCount() const { return segments_; }

    // Completes and closes the file. Later calls return the first result.
    HRESULT Finish();
    bool Finished() const { return finished_; }

    const BufferedFile& File() const { return file_; }

private:
    HRESULT WriteHeaders();
    bool OpenSegment();
    bool CloseSegment(bool withStandardIndex);
    bool PatchHeaders();
    bool EnsureFormat();
    riff::MainHeader BuildMainHeader() const;
    riff::StreamHeader BuildStreamHeader() const;

    BufferedFile file_;
    AviStreamSettings settings_;
    std::vector<uint8_t> format_;
    uint32_t chunkId_ = 0;

    bool headersWritten_ = false;
    bool finished_ = false;
    HRESULT finishResult_ = AVIERR_OK;

    // Offsets of the records patched at the end.
    uint64_t avihOffset_ = 0; // of the record's data
    uint64_t strhOffset_ = 0;
    uint64_t superIndexOffset_ = 0; // of the JUNK chunk header
    uint64_t odmlOffset_ = 0;       // of the JUNK chunk header

    // The RIFF list being written.
    uint32_t segments_ = 0;
    uint64_t riffStart_ = 0; // of "RIFF"
    uint64_t moviStart_ = 0; // of the "movi" code
    uint32_t segmentFrames_ = 0;
    std::vector<riff::StandardIndexEntry> standardIndex_;
    std::vector<riff::LegacyIndexEntry> legacyIndex_; // first RIFF list only
    std::vector<riff::SuperIndexEntry> superIndex_;

    uint32_t totalFrames_ = 0;
    uint32_t firstRiffFrames_ = 0;
    uint32_t largestChunk_ = 0;
};

} // namespace avifile
