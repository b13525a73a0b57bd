// The recorder against the real AVI library; files are read back with ffprobe/ffmpeg.
#include <gtest/gtest.h>

#include "avi/avi_recorder.h"
#include "avi/dib_capture.h"
#include "platform/avifile/avifile.h"
#include "platform/rtl/exception.h"
#include "tests/support/media_probe.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"

using namespace testing_support;
using avi::TAVIRecorder;

namespace {

// Answers the compression dialog with one compressor, and counts the calls.
class ChooserScope {
public:
    explicit ChooserScope(const char* fourcc, bool ok = true, int* calls = nullptr)
    {
        const avifile::FOURCC code = avifile::StringToFourCC(fourcc);
        previous_ = avifile::SetSaveOptionsChooser([=](avifile::UINT flags, avifile::AVICOMPRESSOPTIONS& o) {
            if (calls) ++*calls;
            EXPECT_EQ(flags, 3u);  // key-frame rate and data rate offered
            EXPECT_EQ(o.fccType, avifile::streamtypeVIDEO);
            o.fccHandler = code;
            o.dwQuality = 7500;
            return ok;
        });
    }
    ~ChooserScope() { avifile::SetSaveOptionsChooser(previous_); }

private:
    avifile::SaveOptionsChooser previous_;
};

gdi::Bitmap Solid(int w, int h, uint8_t r, uint8_t g, uint8_t b)
{
    gdi::Bitmap bm(w, h);
    bm.FillRect(0, 0, w, h, r, g, b);
    return bm;
}

// RGB of pixel (x, y) of frame f in a decoded rgb24 buffer.
const uint8_t* Pixel(const std::vector<uint8_t>& rgb, int w, int h, int f, int x, int y)
{
    return rgb.data() + ((static_cast<size_t>(f) * h + y) * w + x) * 3;
}

class RecorderTest : public ::testing::Test {
protected:
    TempDir dir;
    ScriptedDialogs dialogs;
    ui::ScopedDialogProvider useDialogs{&dialogs};
};

} // namespace

TEST(RecorderSizes, SettersRoundToTheBlockAndIgnoreNonPositiveValues)
{
    TAVIRecorder r;
    EXPECT_EQ(r.Width(), 320);
    EXPECT_EQ(r.Height(), 200);
    EXPECT_EQ(r.FPS(), 25);
    EXPECT_EQ(r.SizeRestriction(), avi::srForceBlock8x8);
    EXPECT_EQ(r.Compressor(), avi::acDefault);
    EXPECT_EQ(r.ImageRetrievalMode(), avi::irmBitBlt);
    r.SetWidth(333);
    r.SetHeight(250);
    EXPECT_EQ(r.Width(), 328);
    EXPECT_EQ(r.Height(), 248);
    r.SetWidth(0);
    r.SetHeight(-16);
    EXPECT_EQ(r.Width(), 328);
    EXPECT_EQ(r.Height(), 248);
    r.SetSizeRestriction(avi::srForceBlock2x2);
    r.SetWidth(333);
    EXPECT_EQ(r.Width(), 332);
    r.SetSizeRestriction(avi::srNoRestriction);
    r.SetWidth(250);
    r.SetHeight(7);
    EXPECT_EQ(r.Width(), 250);
    EXPECT_EQ(r.Height(), 7);
    r.SetSizeRestriction(avi::srForceBlock4x4);  // rounds the current sizes at once
    EXPECT_EQ(r.Width(), 248);
    EXPECT_EQ(r.Height(), 4);
    r.SetWidth(3);  // below the block: rounds to 0
    EXPECT_EQ(r.Width(), 0);
    EXPECT_EQ(r.RoundToBlock(-9), -8);  // truncates towards zero
}

TEST(RecorderDib, HeaderAndSizesFollowTheBitmap)
{
    for (auto [w, stride] : {std::pair{1, 4}, {320, 960}, {333, 1000}}) {
        gdi::Bitmap bm(w, 3);
        gdi::BITMAPINFOHEADER h;
        avi::FillDIBHeader(bm, h);
        EXPECT_EQ(h.biSize, 40u);
        EXPECT_EQ(h.biWidth, w);
        EXPECT_EQ(h.biHeight, 3);
        EXPECT_EQ(h.biPlanes, 1);
        EXPECT_EQ(h.biBitCount, 24);
        EXPECT_EQ(h.biCompression, 0u);
        EXPECT_EQ(h.biSizeImage, static_cast<uint32_t>(stride * 3));
        int headerSize = 0, imageSize = 0;
        avi::QueryDIBSizes(bm, headerSize, imageSize);
        EXPECT_EQ(headerSize, 40);
        EXPECT_EQ(imageSize, stride * 3);
    }
}

TEST_F(RecorderTest, CancelledSaveDialogLeavesTheRecorderIdle)
{
    TAVIRecorder r;
    dialogs.savePaths = {""};
    EXPECT_FALSE(r.StartRecording());
    EXPECT_FALSE(r.Recording());
    ASSERT_EQ(dialogs.saveRequests.size(), 1u);
    EXPECT_EQ(dialogs.saveRequests[0].filter, "AVI Files (*.avi)|*.avi");
    EXPECT_EQ(dialogs.saveRequests[0].defaultExt, "avi");
    EXPECT_EQ(dialogs.saveRequests[0].options, unsigned(ui::ofHideReadOnly | ui::ofNoReadOnlyReturn));
    try {
        r.AddFrame(Solid(8, 8, 1, 2, 3));
        FAIL() << "AddFrame while idle must fail";
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(e.Message, "Cannot add frame to AVI. AVI file not created.");
    }
    try {
        r.StopRecording(false);
        FAIL() << "StopRecording while idle must fail";
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(e.Message, "Cannot close AVI file. AVI file not created.");
    }
}

TEST_F(RecorderTest, OverwriteQuestionDeclinedKeepsTheFileAcceptedReplacesIt)
{
    const std::string path = dir / "out.avi";
    WriteFile(path, "precious");
    ChooserScope chooser("DIB ");
    TAVIRecorder r;
    r.SetFilename(path);
    dialogs.answers = {ui::mrNo};
    EXPECT_FALSE(r.StartRecording());
    ASSERT_EQ(dialogs.questions.size(), 1u);
    // "是否覆盖 <path>?"
    EXPECT_EQ(dialogs.questions[0], "\xE6\x98\xAF\xE5\x90\xA6\xE8\xA6\x86\xE7\x9B\x96 " + path + "?");
    EXPECT_EQ(ReadFile(path), "precious");
    EXPECT_TRUE(dialogs.saveRequests.empty());  // Filename set: no save dialog

    dialogs.answers = {ui::mrYes};
    ASSERT_TRUE(r.StartRecording());
    r.AddFrame(Solid(r.Width(), r.Height(), 10, 20, 30));
    r.StopRecording(false);
    EXPECT_TRUE(ProbeVideo(path).ok);
    EXPECT_EQ(ProbeVideo(path).packets, 1);
}

TEST_F(RecorderTest, FramesAreWrittenInOrderAsKeyFramesFirstRowOnTop)
{
    const std::string path = dir / "order.avi";
    ChooserScope chooser("DIB ");
    TAVIRecorder r;
    r.SetSizeRestriction(avi::srNoRestriction);
    r.SetWidth(6);
    r.SetHeight(4);
    r.SetFPS(10);
    r.SetCompressor(avi::acShowDialog);
    dialogs.savePaths = {path};
    ASSERT_TRUE(r.StartRecording());
    EXPECT_EQ(r.WorkingPath(), path);
    EXPECT_TRUE(r.Filename().empty());  // the dialog does not change Filename
    for (int f = 0; f < 5; ++f) {
        gdi::Bitmap bm = Solid(6, 4, static_cast<uint8_t>(40 * f), 7, 200);
        bm.FillRect(0, 0, 6, 1, 255, 255, 255);  // top row white
        r.AddFrame(bm);
    }
    EXPECT_EQ(r.FrameCount(), 5);
    r.StopRecording(false);

    VideoProbe p = ProbeVideo(path);
    ASSERT_TRUE(p.ok) << p.errors;
    EXPECT_EQ(p.streams, 1);
    EXPECT_EQ(p.codec, "rawvideo");
    EXPECT_EQ(p.width, 6);
    EXPECT_EQ(p.height, 4);
    EXPECT_EQ(p.frameRate, "10/1");
    EXPECT_EQ(p.packets, 5);
    EXPECT_EQ(p.keyPackets, 5);
    auto rgb = DecodeRgb24(path);
    ASSERT_EQ(rgb.size(), 5u * 6 * 4 * 3);
    for (int f = 0; f < 5; ++f) {
        EXPECT_EQ(Pixel(rgb, 6, 4, f, 2, 0)[0], 255) << "frame " << f;
        const uint8_t* px = Pixel(rgb, 6, 4, f, 3, 3);
        EXPECT_EQ(px[0], 40 * f);
        EXPECT_EQ(px[1], 7);
        EXPECT_EQ(px[2], 200);
    }
}

TEST_F(RecorderTest, PostProcessDrawingShowsAndPersistsWhereTheSourceDoesNotCover)
{
    const std::string path = dir / "post.avi";
    ChooserScope chooser("DIB ");
    TAVIRecorder r;
    r.SetSizeRestriction(avi::srNoRestriction);
    r.SetWidth(8);
    r.SetHeight(8);
    r.SetFilename(path);
    r.SetCompressor(avi::acShowDialog);
    int calls = 0;
    r.SetOnPostProcessEvent([&](TAVIRecorder* sender, gdi::Bitmap* frame) {
        EXPECT_EQ(sender, &r);
        ASSERT_EQ(frame->Width(), 8);
        if (calls++ == 0) frame->FillRect(6, 6, 8, 8, 0, 255, 0);  // only on the first frame
    });
    ASSERT_TRUE(r.StartRecording());
    r.AddFrame(Solid(8, 8, 100, 0, 0));  // covers everything
    r.AddFrame(Solid(4, 4, 0, 0, 100));  // covers the top-left quarter only
    r.StopRecording(false);
    EXPECT_EQ(calls, 2);
    auto rgb = DecodeRgb24(path);
    ASSERT_EQ(rgb.size(), 2u * 8 * 8 * 3);
    EXPECT_EQ(Pixel(rgb, 8, 8, 0, 7, 7)[1], 255);  // drawn by the handler
    EXPECT_EQ(Pixel(rgb, 8, 8, 1, 7, 7)[1], 255);  // still there: not covered by the 4x4 source
    EXPECT_EQ(Pixel(rgb, 8, 8, 1, 0, 0)[2], 100);  // new source
    EXPECT_EQ(Pixel(rgb, 8, 8, 1, 5, 0)[0], 100);  // previous frame's pixels kept
}

TEST_F(RecorderTest, DestroyingARecordingRecorderDeletesItsFile)
{
    const std::string path = dir / "unfinished.avi";
    ChooserScope chooser("DIB ");
    {
        TAVIRecorder r;
        r.SetFilename(path);
        r.SetCompressor(avi::acShowDialog);
        ASSERT_TRUE(r.StartRecording());
        r.AddFrame(Solid(16, 16, 1, 1, 1));
        EXPECT_TRUE(FileExists(path));
    }
    EXPECT_FALSE(FileExists(path));
}

TEST_F(RecorderTest, CompressorChoiceByProperty)
{
    struct Case {
        avi::TAVICompressor compressor;
        const char* codec;
    };
    for (Case c : {Case{avi::acDefault, "msvideo1"}, Case{avi::acDivX, "mpeg4"}}) {
        const std::string path = dir / (std::string(c.codec) + ".avi");
        TAVIRecorder r;  // default 320 x 200
        r.SetFilename(path);
        r.SetCompressor(c.compressor);
        ASSERT_TRUE(r.StartRecording());
        for (int f = 0; f < 3; ++f) r.AddFrame(Solid(320, 200, static_cast<uint8_t>(f * 60), 100, 50));
        r.StopRecording(false);
        VideoProbe p = ProbeVideo(path);
        ASSERT_TRUE(p.ok) << p.errors;
        EXPECT_EQ(p.codec, c.codec);
        EXPECT_EQ(p.width, 320);
        EXPECT_EQ(p.height, 200);
        EXPECT_EQ(p.packets, 3);
        EXPECT_EQ(p.keyPackets, 3);
    }
}

TEST_F(RecorderTest, FailedStartsRaiseTheirMessagesAndLeaveNoFile)
{
    const std::string path = dir / "x.avi";
    auto expectFailure = [&](TAVIRecorder& r, const std::string& message) {
        try {
            r.StartRecording();
            ADD_FAILURE() << "expected: " << message;
        } catch (const rtl::Exception& e) {
            EXPECT_EQ(e.Message, message);
        }
        EXPECT_FALSE(r.Recording());
        EXPECT_FALSE(FileExists(path));
    };
    {
        ChooserScope chooser("XVX9");
        TAVIRecorder r;
        r.SetFilename(path);
        r.SetCompressor(avi::acShowDialog);
        expectFailure(r, "Cannot make compressed stream. No such compressor found");
    }
    {
        TAVIRecorder r;
        r.SetFilename(dir / "no-such-dir/x.avi");
        expectFailure(r, "Cannot create AVI file. Disk full or file in use?");
    }
    {
        // A width below the block rounds to 0: no compressor takes an empty frame.
        ChooserScope chooser("DIB ");
        TAVIRecorder r;
        r.SetFilename(path);
        r.SetCompressor(avi::acShowDialog);
        r.SetWidth(5);
        ASSERT_EQ(r.Width(), 0);
        expectFailure(r, "AVIStreamSetFormat Error");
    }
}

TEST_F(RecorderTest, CancelledCompressionDialogDeclinesTheStart)
{
    const std::string path = dir / "cancel.avi";
    int calls = 0;
    ChooserScope chooser("DIB ", false, &calls);
    TAVIRecorder r;
    r.SetFilename(path);
    r.SetCompressor(avi::acShowDialog);
    EXPECT_FALSE(r.StartRecording());
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(r.Recording());
    EXPECT_FALSE(FileExists(path));
}

TEST_F(RecorderTest, SecondStartFinishesTheRunningRecordingAndKeepsItsFile)
{
    ChooserScope chooser("DIB ");
    TAVIRecorder r;
    r.SetCompressor(avi::acShowDialog);
    r.SetFilename(dir / "first.avi");
    ASSERT_TRUE(r.StartRecording());
    r.AddFrame(Solid(320, 200, 1, 2, 3));
    r.SetFilename(dir / "second.avi");
    ASSERT_TRUE(r.StartRecording());
    r.StopRecording(false);
    EXPECT_EQ(ProbeVideo(dir / "first.avi").packets, 1);
    EXPECT_TRUE(ProbeVideo(dir / "second.avi").ok);
}
