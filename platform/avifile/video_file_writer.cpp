#include "platform/avifile/video_file_writer.h"

#include <cerrno>

namespace avifile {
namespace {

const char kCannotWrite[] = "Cannot write the video file";

// Writes what the compressor hands out into the file.
class FileSink final : public FrameSink {
public:
    explicit FileSink(AviWriter& avi) : avi_(avi) {}
    HRESULT Put(const uint8_t* data, size_t size, bool keyFrame) override
    {
        return avi_.WriteFrame(data, size, keyFrame);
    }

private:
    AviWriter& avi_;
};

} // namespace

VideoFileWriter::VideoFileWriter(const std::string& destination)
{
    const int error = file_.Create(destination, 0666);
    if (error != 0) throw EFileError::NamingFile("Cannot create the video file", error, destination);
    avi_.Attach(file_.Fd());
}

VideoFileWriter::~VideoFileWriter() = default;

HRESULT VideoFileWriter::Begin(const VideoFileSettings& settings, const gdi::BITMAPINFOHEADER& input)
{
    if (begun_) return AVIERR_UNSUPPORTED;
    if (settings.stream.rate == 0 || settings.stream.scale == 0) return AVIERR_BADPARAM;
    CompressorSettings compression;
    compression.quality = settings.quality;
    compression.bytesPerSecond = settings.bytesPerSecond;
    compression.keyFrameEvery = settings.keyFrameEvery;
    compression.rate = settings.stream.rate;
    compression.scale = settings.stream.scale;
    CompressorInfo info;
    std::unique_ptr<VideoCompressor> compressor;
    HRESULT hr = CreateCompressor(settings.compressor, compression, compressor, &info);
    if (hr != AVIERR_OK) return hr;
    InputFrameFormat format;
    hr = ParseInputFormat(&input, sizeof input, format);
    if (hr != AVIERR_OK) return hr;
    std::vector<uint8_t> outputFormat;
    hr = compressor->Begin(format, outputFormat);
    if (hr != AVIERR_OK) return hr == AVIERR_NOCOMPRESSOR ? hr : AVIERR_BADFORMAT;
    avi_.SetStream(settings.stream);
    hr = avi_.SetFormat(outputFormat.data(), outputFormat.size(), info.fourcc);
    if (hr != AVIERR_OK) return hr;
    compressor_ = std::move(compressor);
    input_ = format;
    begun_ = true;
    return AVIERR_OK;
}

void VideoFileWriter::FailWrite()
{
    throw EFileError(kCannotWrite, avi_.File().LastErrno(), file_.TemporaryPath());
}

void VideoFileWriter::Write(const uint8_t* frame)
{
    if (!begun_ || avi_.Finished()) throw EFileError(kCannotWrite, 0, file_.TemporaryPath());
    FileSink sink(avi_);
    if (compressor_->Compress(frame, sink) != AVIERR_OK) FailWrite();
}

void VideoFileWriter::Finish()
{
    if (avi_.Finished()) {
        if (avi_.Finish() != AVIERR_OK) FailWrite();
        return;
    }
    HRESULT hr = AVIERR_OK;
    if (compressor_) {
        FileSink sink(avi_);
        hr = compressor_->Flush(sink);
    }
    const HRESULT finished = avi_.Finish();
    if (hr != AVIERR_OK || finished != AVIERR_OK) FailWrite();
}

void VideoFileWriter::Commit()
{
    if (!avi_.Finished()) Finish();
    const std::string destination = file_.Destination();
    const int error = file_.Commit();
    if (error != 0) throw EFileError::NamingFile("Cannot rename the video file", error, destination);
}

} // namespace avifile
