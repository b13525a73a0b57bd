#include "platform/avifile/video_file_writer.h"

#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <thread>

namespace avifile {
namespace {

const char kCannotWrite[] = "Cannot write the video file";

// Compressors at work at once: one per core this process may run on.
size_t Cores()
{
    cpu_set_t set;
    if (::sched_getaffinity(0, sizeof set, &set) == 0) return static_cast<size_t>(std::max(CPU_COUNT(&set), 1));
    return std::max(std::thread::hardware_concurrency(), 1u);
}

} // namespace

VideoFileWriter::VideoFileWriter(const std::string& destination)
{
    const int error = file_.Create(destination, 0666);
    if (error != 0) throw EFileError::NamingFile("Cannot create the video file", error, destination);
    avi_.Attach(file_.Fd());
}

// The pipeline goes first: its workers end before the file is let go.
VideoFileWriter::~VideoFileWriter() { pipeline_.reset(); }

HRESULT VideoFileWriter::Begin(const VideoFileSettings& settings, const gdi::BITMAPINFOHEADER& input)
{
    if (pipeline_) return AVIERR_UNSUPPORTED;
    if (settings.stream.rate == 0 || settings.stream.scale == 0) return AVIERR_BADPARAM;
    CompressorSettings compression;
    compression.quality = settings.quality;
    compression.bytesPerSecond = settings.bytesPerSecond;
    compression.keyFrameEvery = settings.keyFrameEvery;
    compression.rate = settings.stream.rate;
    compression.scale = settings.stream.scale;
    sink_.SetShare(compression.FrameShare());
    CompressorInfo info;
    std::unique_ptr<VideoCompressor> first;
    HRESULT hr = CreateCompressor(settings.compressor, compression, first, &info);
    if (hr != AVIERR_OK) return hr;
    InputFrameFormat format;
    hr = ParseInputFormat(&input, sizeof input, format);
    if (hr != AVIERR_OK) return hr;
    // The buffers the frames are filled in have room after the image.
    format.readableAfter = kFrameReadPadding;
    std::vector<std::unique_ptr<VideoCompressor>> compressors;
    compressors.push_back(std::move(first));
    std::vector<uint8_t> outputFormat;
    hr = compressors.front()->Begin(format, outputFormat);
    if (hr != AVIERR_OK) return hr == AVIERR_NOCOMPRESSOR ? hr : AVIERR_BADFORMAT;
    // Every frame is a key frame, so frames are compressed side by side, each
    // by a compressor of its own; full frames need no compressing.
    const size_t workers = info.fourcc == FourCC("DIB ") ? 1 : Cores();
    while (compressors.size() < workers) {
        std::unique_ptr<VideoCompressor> more;
        std::vector<uint8_t> same;
        if (CreateCompressor(settings.compressor, compression, more) != AVIERR_OK ||
            more->Begin(format, same) != AVIERR_OK || same != outputFormat)
            break; // the ones begun do the work
        compressors.push_back(std::move(more));
    }
    avi_.SetStream(settings.stream);
    hr = avi_.SetFormat(outputFormat.data(), outputFormat.size(), info.fourcc);
    if (hr != AVIERR_OK) return hr;
    input_ = format;
    pipeline_ = std::make_unique<FramePipeline>(std::move(compressors), format.imageSize, sink_);
    return AVIERR_OK;
}

void VideoFileWriter::FailWrite()
{
    throw EFileError(kCannotWrite, avi_.File().LastErrno(), file_.TemporaryPath());
}

uint8_t* VideoFileWriter::NextFrame()
{
    if (!pipeline_ || avi_.Finished()) throw EFileError(kCannotWrite, 0, file_.TemporaryPath());
    if (!filling_) filling_ = pipeline_->Acquire();
    if (!filling_) FailWrite();
    return FramePipeline::Data(filling_);
}

void VideoFileWriter::WriteFrame()
{
    if (!filling_) NextFrame();
    FramePipeline::Slot* frame = filling_;
    filling_ = nullptr;
    if (pipeline_->Submit(frame) != AVIERR_OK) FailWrite();
}

void VideoFileWriter::Finish()
{
    if (avi_.Finished()) {
        if (avi_.Finish() != AVIERR_OK) FailWrite();
        return;
    }
    const HRESULT hr = pipeline_ ? pipeline_->Finish() : AVIERR_OK;
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
