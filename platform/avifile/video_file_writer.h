#pragma once
// One video file from creation to rename: the temporary file next to the
// destination (created once, written through its descriptor), the
// compressor and the RIFF writer. Frames arrive in the layout the stream was
// begun with and are written as key frames, in order; Commit completes the
// file and renames it over the destination, and a writer that is not
// committed removes its temporary file. Failures of the file are raised as
// EFileError, with the system's error number and the file's name.
#include <memory>
#include <string>
#include <vector>

#include "platform/avifile/avi_writer.h"
#include "platform/avifile/compressor.h"
#include "platform/avifile/file_error.h"
#include "platform/kernel/replacing_file.h"

namespace avifile {

struct VideoFileSettings {
    AviStreamSettings stream; // rate and scale (not 0), frame rectangle, suggested buffer size, ...
    FOURCC compressor = 0;    // matched without regard to case
    DWORD quality = ICQUALITY_DEFAULT;
    DWORD bytesPerSecond = 0; // average data rate for the compressors that honour it; 0: none
    DWORD keyFrameEvery = 0;
};

class VideoFileWriter {
public:
    // Creates the temporary file for destination (mode 0666 less the umask).
    // Raises EFileError with the errno and the destination's name.
    explicit VideoFileWriter(const std::string& destination);
    ~VideoFileWriter();
    VideoFileWriter(const VideoFileWriter&) = delete;
    VideoFileWriter& operator=(const VideoFileWriter&) = delete;

    const std::string& TemporaryPath() const { return file_.TemporaryPath(); }
    const std::string& Destination() const { return file_.Destination(); }

    // Sets up the stream and its compressor for input frames of the given
    // header (24-bit, uncompressed, rows padded to 4 bytes). Returns
    // AVIERR_NOCOMPRESSOR when the compressor is not installed,
    // AVIERR_BADFORMAT when it cannot take the frames, AVIERR_BADPARAM for a
    // rate or scale of 0.
    HRESULT Begin(const VideoFileSettings& settings, const gdi::BITMAPINFOHEADER& input);
    // The layout of the input frames, once begun.
    const InputFrameFormat& Input() const { return input_; }

    // Compresses and appends one frame of Input().imageSize bytes.
    void Write(const uint8_t* frame);
    uint32_t FramesWritten() const { return avi_.FrameCount(); }

    // Hands out what the compressor still holds and completes the file
    // (headers, counts, indexes). The temporary file stays until Commit or
    // the writer's end.
    void Finish();
    // Renames the completed file over the destination.
    void Commit();

private:
    [[noreturn]] void FailWrite();

    kernel::TReplacingFile file_;
    AviWriter avi_;
    std::unique_ptr<VideoCompressor> compressor_;
    InputFrameFormat input_;
    bool begun_ = false;
};

} // namespace avifile
