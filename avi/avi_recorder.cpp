#include "avi/avi_recorder.h"

#include <unistd.h>

#include <cstring>

#include "avi/dib_capture.h"
#include "avi/format_advice.h"
#include "platform/rtl/exception.h"
#include "platform/rtl/format.h"

namespace avi {
namespace {

const char kCannotCreate[] = "Cannot create AVI file. Disk full or file in use?";
const char kCannotComplete[] = "Cannot complete AVI file. Disk full or file in use?";

[[noreturn]] void Fail(const std::string& message) { throw rtl::Exception(message); }

// The recorder's own message, then the reason when one is known.
std::string WithReason(const std::string& message, const std::string& reason)
{
    if (reason.empty()) return message;
    const char last = message.empty() ? '.' : message.back();
    const bool ended = last == '.' || last == '?' || last == '!';
    return message + (ended ? " " : ". ") + reason + ".";
}

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

void TAVIRecorder::FillStreamInfo(avifile::AVISTREAMINFOA& info) const
{
    std::memset(&info, 0, sizeof info);
    info.fccType = avifile::streamtypeVIDEO;
    info.fccHandler = 0;
    info.dwScale = 1;
    info.dwRate = fps_;
    info.dwSuggestedBufferSize = static_cast<avifile::DWORD>(imageSize_);
    info.rcFrame = {0, 0, frame_->Width(), frame_->Height()};
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
        request.stream = stream_;
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

    avifile::AVIFileInit();
    frame_ = std::make_unique<gdi::Bitmap>();
    frameCount_ = 0;
    recording_ = true;

    try {
        frame_->SetFormat(gdi::PixelFormat::pf24bit);
        frame_->SetSize(width_, height_);

        const int created = output_.Create(workingPath_);
        if (created != 0)
            Fail(WithReason(kCannotCreate, rtl::FormatStrings("\"%s\": %s", {workingPath_, std::strerror(created)})));
        if (avifile::AVIFileOpenA(&file_, output_.TemporaryPath().c_str(), avifile::OF_CREATE | avifile::OF_WRITE,
                                  nullptr) != 0)
            Fail(kCannotCreate);

        int headerSize = 0;
        QueryDIBSizes(*frame_, headerSize, imageSize_);
        header_ = {};
        pixels_.assign(static_cast<size_t>(imageSize_), 0);
        CaptureDIB(*frame_, header_, pixels_.data());

        FillStreamInfo(streamInfo_);
        if (avifile::AVIFileCreateStreamA(file_, &stream_, &streamInfo_) != 0) Fail("Cannot create AVI stream.");

        CaptureDIB(*frame_, header_, pixels_.data());

        avifile::AVICOMPRESSOPTIONS options;
        if (!FillCompressOptions(options)) {
            // Cancelling the compression choice declines the start like the
            // save dialog does: nothing is left behind.
            StopRecording(true);
            return false;
        }

        const avifile::HRESULT made = avifile::AVIMakeCompressedStream(&compressed_, stream_, &options, nullptr);
        if (made != 0) {
            std::string message = "Cannot make compressed stream. ";
            if (made == avifile::AVIERR_NOCOMPRESSOR) message += "No such compressor found";
            throw rtl::Exception(message);
        }

        if (avifile::AVIStreamSetFormat(compressed_, 0, &header_, static_cast<avifile::LONG>(sizeof header_)) != 0)
            Fail(WithReason("AVIStreamSetFormat Error",
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
    if (!recording_) Fail("Cannot add frame to AVI. AVI file not created.");
    frame_->Draw(0, 0, bitmap);
    WriteFrame();
}

void TAVIRecorder::FailWithWriteError(const char* message)
{
    Fail(WithReason(message, WriteErrorText(file_ ? avifile::AVIFileWriteError(file_) : 0)));
}

void TAVIRecorder::WriteFrame()
{
    if (onPostProcess_) onPostProcess_(this, frame_.get());
    CaptureDIB(*frame_, header_, pixels_.data());
    if (avifile::AVIStreamWrite(compressed_, frameCount_, 1, pixels_.data(), imageSize_, avifile::AVIIF_KEYFRAME,
                                nullptr, nullptr) != 0)
        FailWithWriteError("Add Frame Error");
    ++frameCount_;
}

void TAVIRecorder::ReleaseAvi()
{
    if (stream_) avifile::AVIStreamRelease(stream_);
    stream_ = nullptr;
    if (compressed_) avifile::AVIStreamRelease(compressed_);
    compressed_ = nullptr;
    if (file_) avifile::AVIFileRelease(file_);
    file_ = nullptr;
}

void TAVIRecorder::StopRecording(bool deleteFile)
{
    if (!recording_) Fail("Cannot close AVI file. AVI file not created.");
    std::string failure;
    try {
        frame_.reset();
        pixels_.clear();
        pixels_.shrink_to_fit();
        avifile::AVIFileExit();
        // Complete a file that is kept before letting go of it, so that a
        // file that could not be completed (disk full) is not taken for a
        // finished one; the library removes such a file.
        if (!deleteFile && file_ && avifile::AVIFileFinalize(file_) != avifile::AVIERR_OK)
            failure = WithReason(kCannotComplete, WriteErrorText(avifile::AVIFileWriteError(file_)));
        ReleaseAvi();
        if (deleteFile || !failure.empty()) {
            output_.Discard();
        } else if (output_.Active()) {
            const std::string destination = output_.Destination();
            const int renamed = output_.Commit();
            if (renamed != 0)
                failure = WithReason(kCannotComplete,
                                     rtl::FormatStrings("\"%s\": %s", {destination, std::strerror(renamed)}));
        }
    } catch (...) {
        output_.Discard();
        recording_ = false;
        throw;
    }
    recording_ = false;
    if (!failure.empty()) Fail(failure);
}

} // namespace avi
