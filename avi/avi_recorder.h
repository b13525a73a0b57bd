#pragma once
// TAVIRecorder writes bitmaps, one per call, as the key frames of one video
// stream in a new AVI file, through a compressor chosen by a property or by
// the program's answer to the compression question. The questions (output
// path, overwrite, compressor) go to the program through
// TAVIRecorderDecisions; the recorder shows no windows of its own.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "avi/recorder_decisions.h"
#include "platform/avifile/avifile.h"
#include "platform/avifile/video_file_writer.h"
#include "platform/gdi/bitmap.h"
#include "platform/gdi/dib.h"
#include "platform/rtl/component.h"
#include "platform/rtl/exception.h"

namespace avi {

enum TAVICompressor { acDefault, acShowDialog, acDivX };
enum TAVISizeRestriction { srNoRestriction, srForceBlock2x2, srForceBlock4x4, srForceBlock8x8 };
enum TAVIImageRetrievalMode { irmSnapShot, irmRenderToBitmap, irmBitBlt };

class TAVIRecorder;

// The chosen compressor is missing or refuses the stream (its frame size,
// say): the user's choice, not a fault of the program.
class ECompressorError : public rtl::Exception {
public:
    using rtl::Exception::Exception;
};

// Called for every frame before it is captured, with the recorder's own
// frame bitmap; what the handler draws is part of the frame.
using TAVIRecorderPostProcessEvent = std::function<void(TAVIRecorder* Sender, gdi::Bitmap* frame)>;

class TAVIRecorder : public rtl::TComponent {
public:
    explicit TAVIRecorder(rtl::TComponent* owner = nullptr);
    // Stops a running recording and deletes its unfinished file.
    ~TAVIRecorder() override;

    uint8_t FPS() const { return fps_; }
    void SetFPS(uint8_t value) { fps_ = value; }
    int Width() const { return width_; }
    void SetWidth(int value);
    int Height() const { return height_; }
    void SetHeight(int value);
    const std::string& Filename() const { return filename_; }
    void SetFilename(const std::string& value) { filename_ = value; }
    TAVICompressor Compressor() const { return compressor_; }
    void SetCompressor(TAVICompressor value) { compressor_ = value; }
    TAVISizeRestriction SizeRestriction() const { return sizeRestriction_; }
    void SetSizeRestriction(TAVISizeRestriction value);
    TAVIImageRetrievalMode ImageRetrievalMode() const { return imageRetrievalMode_; }
    void SetImageRetrievalMode(TAVIImageRetrievalMode value) { imageRetrievalMode_ = value; }
    const TAVIRecorderPostProcessEvent& OnPostProcessEvent() const { return onPostProcess_; }
    void SetOnPostProcessEvent(TAVIRecorderPostProcessEvent handler) { onPostProcess_ = std::move(handler); }
    // Who answers the recorder's questions; nullptr declines them all. The
    // caller keeps ownership.
    TAVIRecorderDecisions* Decisions() const { return decisions_; }
    void SetDecisions(TAVIRecorderDecisions* decisions) { decisions_ = decisions; }

    bool Recording() const { return recording_; }
    // The path in use since the last StartRecording (Filename or the chosen one).
    const std::string& WorkingPath() const { return workingPath_; }
    // Where the frames go while recording: a temporary file next to the
    // working path, renamed over it by StopRecording(false).
    const std::string& TemporaryPath() const;
    // Index at which the next frame is written.
    int FrameCount() const { return frameCount_; }

    // True when the file and its compressed stream are ready; false when no
    // path was chosen, the user declined to overwrite, or cancelled the
    // compression choice. Other failures raise rtl::Exception (failures of
    // the file itself avifile::EFileError) and leave no file; a path that
    // names a folder, device or pipe is refused. An existing file is only
    // replaced when StopRecording(false) completes.
    bool StartRecording();
    void AddFrame(const gdi::Bitmap& bitmap);

    // The frame without a bitmap between: NextFrame gives the buffer of the
    // next frame, to be filled in the layout of FrameHeader() (24 bits,
    // bottom row first, rows padded to 4 bytes; Width() x Height()), and
    // AddFilledFrame writes it. The compressor reads the frame where it was
    // filled in. NextFrame waits while every buffer holds a frame not yet
    // written, and gives the same buffer until AddFilledFrame.
    uint8_t* NextFrame();
    void AddFilledFrame();
    const gdi::BITMAPINFOHEADER& FrameHeader() const { return header_; }
    // Completes the file and renames it to the working path, or (deleteFile)
    // removes it; the working path is untouched then.
    void StopRecording(bool deleteFile);

    int RoundToBlock(int value) const;

    // The data rate asked for since the last StartRecording (bytes per
    // second; 0: none), and the frames of the file it completed that the
    // compressor could not make as small as their share of it.
    unsigned long DataRate() const { return dataRate_; }
    int FramesOverDataRate() const { return framesOverDataRate_; }

private:
    void WriteFrame();
    bool ChooseWorkingPath();
    avifile::AviStreamSettings StreamSettings() const;
    bool FillCompressOptions(avifile::AVICOMPRESSOPTIONS& options);
    void CompleteFile();

    uint8_t fps_ = 25;
    int width_ = 320;
    int height_ = 200;
    std::string filename_;
    TAVICompressor compressor_ = acDefault;
    TAVISizeRestriction sizeRestriction_ = srForceBlock8x8;
    TAVIImageRetrievalMode imageRetrievalMode_ = irmBitBlt;
    TAVIRecorderPostProcessEvent onPostProcess_;
    TAVIRecorderDecisions* decisions_ = nullptr;

    std::unique_ptr<gdi::Bitmap> frame_;
    int frameCount_ = 0;
    gdi::BITMAPINFOHEADER header_{};
    int imageSize_ = 0;
    std::string workingPath_;
    unsigned long dataRate_ = 0;
    int framesOverDataRate_ = 0;
    // The file from its creation to the rename.
    std::unique_ptr<avifile::VideoFileWriter> writer_;
    bool recording_ = false;
};

} // namespace avi
