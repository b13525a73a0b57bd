#pragma once
// One video file from creation to rename: the temporary file next to the
// destination (created once, written through its descriptor), the
// compressor and the RIFF writer. The caller fills each frame straight into
// a buffer of the writer, in the layout the stream was begun with; the
// compressor reads it there (full frames are written from it as they are)
// and the frames go into the file as key frames, in order. Commit completes
// the file and renames it over the destination, and a writer that is not
// committed removes its temporary file. Failures of the file are raised as
// EFileError, with the system's error number and the file's name.
#include <memory>
#include <string>
#include <vector>

#include "platform/avifile/avi_writer.h"
#include "platform/avifile/compressor.h"
#include "platform/avifile/file_error.h"
#include "platform/avifile/frame_pipeline.h"
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

    // The buffer of the next frame: Input().imageSize bytes to fill in the
    // input layout (followed by room compressors may read past the frame).
    // Waits while every buffer holds a frame not yet written. The same
    // buffer until WriteFrame.
    uint8_t* NextFrame();
    // Compresses and appends the frame filled in since NextFrame.
    void WriteFrame();

    // Hands out what the compressor still holds and completes the file
    // (headers, counts, indexes). The temporary file stays until Commit or
    // the writer's end.
    void Finish();
    // Renames the completed file over the destination.
    void Commit();

    // Frames written larger than their share of the data rate, which the
    // compressor could not make that small; 0 without a data rate.
    int FramesOverDataRate() const { return sink_.FramesOverShare(); }

private:
    [[noreturn]] void FailWrite();

    // Writes the compressed frames into the file.
    class FileSink final : public FrameSink {
    public:
        explicit FileSink(AviWriter& avi) : avi_(avi) {}
        HRESULT Put(const uint8_t* data, size_t size, bool keyFrame) override
        {
            if (share_ > 0 && size > share_) ++overShare_;
            return avi_.WriteFrame(data, size, keyFrame);
        }
        // Bytes one frame may take; 0: no limit.
        void SetShare(size_t bytes) { share_ = bytes; }
        int FramesOverShare() const { return overShare_; }

    private:
        AviWriter& avi_;
        size_t share_ = 0;
        int overShare_ = 0;
    };

    kernel::TReplacingFile file_;
    AviWriter avi_;
    FileSink sink_{avi_};
    InputFrameFormat input_;
    std::unique_ptr<FramePipeline> pipeline_;
    FramePipeline::Slot* filling_ = nullptr;
};

} // namespace avifile
