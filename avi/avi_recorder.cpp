#include "avi/avi_recorder.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "avi/dib_capture.h"
#include "avi/format_advice.h"
#include "avi/output_file.h"
#include "platform/rtl/exception.h"
#include "platform/rtl/format.h"

namespace avi {
namespace {

const char kCannotCreate[] = "Cannot create AVI file. Disk full or file in use?";
const char kCannotComplete[] = "Cannot complete AVI file. Disk full or file in use?";

// The lead-in guesses "disk full or file in use" only where that is the
// reason; for others (no permission, a missing folder) the reason that
// follows it says it all.
std::string LeadIn(const char* message, int error)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
    case EBUSY:
    case ETXTBSY:
    case EIO: return message;
    default: return std::string(message, std::strchr(message, '.') + 1);
    }
}

[[noreturn]] void Fail(const std::string& message) { throw rtl::Exception(message); }

} // namespace

TAVIRecorder::TAVIRecorder(rtl::TComponent* owner) : rtl::TComponent(owner) {}

TAVIRecorder::~TAVIRecorder()
{
    if (recording_) {
        try {
            StopRecording(true);
        } catch (...) {
            // A destructor must not throw; the recording is over either way.
        }
    }
}

int TAVIRecorder::RoundToBlock(int value) const
{
    switch (sizeRestriction_) {
    case srForceBlock2x2: return (value / 2) * 2;
    case srForceBlock4x4: return (value / 4) * 4;
    case srForceBlock8x8: return (value / 8) * 8;
    case srNoRestriction:
    default: return value;
    }
}

void TAVIRecorder::SetWidth(int value)
{
    if (recording_ || value == width_ || value <= 0) return;
    width_ = RoundToBlock(value);
}

void TAVIRecorder::SetHeight(int value)
{
    if (recording_ || value == height_ || value <= 0) return;
    height_ = RoundToBlock(value);
}

void TAVIRecorder::SetSizeRestriction(TAVISizeRestriction value)
{
    if (value == sizeRestriction_) return;
    sizeRestriction_ = value;
    height_ = RoundToBlock(height_);
    width_ = RoundToBlock(width_);
}

bool TAVIRecorder::ChooseWorkingPath()
{
    workingPath_ = filename_;
    if (workingPath_.empty() && decisions_) {
        std::string chosen;
        if (decisions_->ChooseOutputPath(chosen)) workingPath_ = chosen;
    }
    if (workingPath_.empty()) return false;
    // Only a regular file is ever replaced: a folder, device or pipe at the
    // path is refused before anything is asked or written.
    const std::string refusal = ReplaceRefusal(workingPath_);
    if (!refusal.empty())
        Fail(rtl::FormatStrings("Cannot write the AVI file to \"%s\": %s; only a regular file can be replaced.",
                                {workingPath_, refusal}));
    if (::access(workingPath_.c_str(), F_OK) == 0) {
        // The existing file stays until the new one is complete.
        return decisions_ && decisions_->ConfirmOverwrite(workingPath_);
    }
    return true;
}

avifile::AviStreamSettings TAVIRecorder::StreamSettings() const
{
    avifile::AviStreamSettings stream;
    stream.handler = 0;
    stream.scale = 1;
    stream.rate = fps_;
    stream.suggestedBufferSize = static_cast<avifile::DWORD>(imageSize_);
    stream.frame = {0, 0, frame_->Width(), frame_->Height()};
    return stream;
}

const std::string& TAVIRecorder::TemporaryPath() const
{
    static const std::string none;
    return writer_ ? writer_->TemporaryPath() : none;
}

// Returns false when the compression choice was cancelled.
bool TAVIRecorder::FillCompressOptions(avifile::AVICOMPRESSOPTIONS& options)
{
    std::memset(&options, 0, sizeof options);
    options.fccType = avifile::streamtypeVIDEO;
    switch (compressor_) {
    case acShowDialog: {
        if (!decisions_) return false;
        TAVICompressionRequest request;
        request.width = frame_->Width();
        request.height = frame_->Height();
        request.dialogFlags = avifile::ICMF_CHOOSE_KEYFRAME | avifile::ICMF_CHOOSE_DATARATE;
        return decisions_->ChooseCompression(request, options);
    }
    case acDivX:
        // The MPEG-4 compressor runs on its own settings: a quality of 0
        // would ask it for its coarsest quantiser.
        options.fccHandler = avifile::FourCC("divx");
        options.dwQuality = avifile::ICQUALITY_DEFAULT;
        return true;
    case acDefault:
    default:
        options.fccHandler = avifile::FourCC("MSVC");
        options.dwQuality = 7500;
        options.dwFlags = 0;
        return true;
    }
}

bool TAVIRecorder::StartRecording()
{
    // A second start finishes the running recording first and keeps its file.
    if (recording_) StopRecording(false);

    if (!ChooseWorkingPath()) return false;

    frame_ = std::make_unique<gdi::Bitmap>();
    frameCount_ = 0;
    dataRate_ = 0;
    framesOverDataRate_ = 0;
    recording_ = true;

    try {
        frame_->SetFormat(gdi::PixelFormat::pf24bit);
        frame_->SetSize(width_, height_);

        try {
            writer_ = std::make_unique<avifile::VideoFileWriter>(workingPath_);
        } catch (const avifile::EFileError& e) {
            throw avifile::EFileError::NamingFile(LeadIn(kCannotCreate, e.Errno()), e.Errno(), workingPath_);
        }

        int headerSize = 0;
        QueryDIBSizes(*frame_, headerSize, imageSize_);
        FillDIBHeader(*frame_, header_);
        // A stream needs a frame rate.
        if (fps_ == 0) Fail("Cannot create AVI stream.");

        avifile::AVICOMPRESSOPTIONS options;
        if (!FillCompressOptions(options)) {
            // Cancelling the compression choice declines the start like the
            // save dialog does: nothing is left behind.
            StopRecording(true);
            return false;
        }

        avifile::VideoFileSettings settings;
        settings.stream = StreamSettings();
        settings.compressor = options.fccHandler;
        settings.quality = options.dwQuality;
        settings.bytesPerSecond = (options.dwFlags & avifile::AVICOMPRESSF_DATARATE) ? options.dwBytesPerSecond : 0;
        dataRate_ = settings.bytesPerSecond;
        settings.keyFrameEvery = options.dwKeyFrameEvery;
        const avifile::HRESULT begun = writer_->Begin(settings, header_);
        if (begun == avifile::AVIERR_NOCOMPRESSOR)
            throw ECompressorError("Cannot make compressed stream. No such compressor found");
        if (begun != avifile::AVIERR_OK)
            throw ECompressorError(avifile::WithReason("AVIStreamSetFormat Error",
                                     FrameSizeAdvice(options.fccHandler, frame_->Width(), frame_->Height())));
    } catch (...) {
        try {
            StopRecording(true);
        } catch (...) {
        }
        throw;
    }
    return true;
}

void TAVIRecorder::AddFrame(const gdi::Bitmap& bitmap)
{
    uint8_t* pixels = NextFrame();
    frame_->Draw(0, 0, bitmap);
    if (onPostProcess_) onPostProcess_(this, frame_.get());
    CaptureDIB(*frame_, header_, pixels);
    WriteFrame();
}

uint8_t* TAVIRecorder::NextFrame()
{
    if (!recording_) Fail("Cannot add frame to AVI. AVI file not created.");
    try {
        return writer_->NextFrame();
    } catch (const avifile::EFileError& e) {
        throw e.Retold("Add Frame Error");
    }
}

void TAVIRecorder::AddFilledFrame()
{
    uint8_t* pixels = NextFrame();
    if (onPostProcess_) {
        // The handler draws on the frame bitmap: the frame goes through it.
        DrawDIB(pixels, header_, *frame_);
        onPostProcess_(this, frame_.get());
        CaptureDIB(*frame_, header_, pixels);
    }
    WriteFrame();
}

void TAVIRecorder::WriteFrame()
{
    try {
        writer_->WriteFrame();
    } catch (const avifile::EFileError& e) {
        throw e.Retold("Add Frame Error");
    }
    ++frameCount_;
}

// Completes the file and renames it over the working path; a file that
// could not be completed is never taken for a finished one.
void TAVIRecorder::CompleteFile()
{
    try {
        writer_->Finish();
    } catch (const avifile::EFileError& e) {
        throw e.Retold(LeadIn(kCannotComplete, e.Errno()));
    }
    framesOverDataRate_ = writer_->FramesOverDataRate();
    const std::string destination = writer_->Destination();
    // Only a regular file is ever replaced, also when one appeared meanwhile.
    if (!ReplaceRefusal(destination).empty())
        throw avifile::EFileError::NamingFile(LeadIn(kCannotComplete, EISDIR), EISDIR, destination);
    try {
        writer_->Commit();
    } catch (const avifile::EFileError& e) {
        throw avifile::EFileError::NamingFile(LeadIn(kCannotComplete, e.Errno()), e.Errno(), destination);
    }
}

void TAVIRecorder::StopRecording(bool deleteFile)
{
    if (!recording_) Fail("Cannot close AVI file. AVI file not created.");
    frame_.reset();
    try {
        if (!deleteFile && writer_) CompleteFile();
    } catch (...) {
        writer_.reset();
        recording_ = false;
        throw;
    }
    // A writer that was not committed removes its temporary file.
    writer_.reset();
    recording_ = false;
}

} // namespace avi
