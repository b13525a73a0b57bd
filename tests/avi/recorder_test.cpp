// The recorder against the real AVI library; files are read back with ffprobe/ffmpeg.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "avi/avi_recorder.h"
#include "avi/dib_capture.h"
#include "platform/avifile/avifile.h"
#include "platform/rtl/exception.h"
#include "tests/support/media_probe.h"
#include "tests/support/scripted_decisions.h"
#include "tests/support/temp_dir.h"

using namespace testing_support;
using avi::TAVIRecorder;

namespace {

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
    ScriptedDecisions decisions;
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
    r.SetSizeRestriction(avi::srForceBlock4x4); // rounds the current sizes at once
    EXPECT_EQ(r.Width(), 248);
    EXPECT_EQ(r.Height(), 4);
    r.SetWidth(3); // below the block: rounds to 0
    EXPECT_EQ(r.Width(), 0);
    EXPECT_EQ(r.RoundToBlock(-9), -8); // truncates towards zero
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
    r.SetDecisions(&decisions);
    decisions.outputPaths = {""};
    EXPECT_FALSE(r.StartRecording());
    EXPECT_FALSE(r.Recording());
    EXPECT_EQ(decisions.pathRequests, 1);
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
    TAVIRecorder r;
    r.SetDecisions(&decisions);
    r.SetFilename(path);
    decisions.overwrite = {false};
    EXPECT_FALSE(r.StartRecording());
    EXPECT_EQ(decisions.overwriteQuestions, std::vector<std::string>{path});
    EXPECT_EQ(ReadFile(path), "precious");
    EXPECT_EQ(decisions.pathRequests, 0); // Filename set: no path asked for

    decisions.overwrite = {true};
    ASSERT_TRUE(r.StartRecording());
    r.AddFrame(Solid(r.Width(), r.Height(), 10, 20, 30));
    EXPECT_EQ(ReadFile(path), "precious"); // replaced only once complete
    r.StopRecording(false);
    EXPECT_TRUE(ProbeVideo(path).ok);
    EXPECT_EQ(ProbeVideo(path).packets, 1);
}

TEST_F(RecorderTest, FramesAreWrittenInOrderAsKeyFramesFirstRowOnTop)
{
    const std::string path = dir / "order.avi";
    TAVIRecorder r;
    r.SetDecisions(&decisions);
    r.SetSizeRestriction(avi::srNoRestriction);
    r.SetWidth(6);
    r.SetHeight(4);
    r.SetFPS(10);
    r.SetCompressor(avi::acShowDialog);
    decisions.outputPaths = {path};
    ASSERT_TRUE(r.StartRecording());
    ASSERT_EQ(decisions.compressionRequests.size(), 1u);
    EXPECT_EQ(decisions.compressionRequests[0].dialogFlags, 3u); // key-frame rate and data rate offered
    EXPECT_EQ(decisions.compressionRequests[0].width, 6);
    EXPECT_EQ(decisions.compressionRequests[0].height, 4);
    EXPECT_EQ(r.WorkingPath(), path);
    EXPECT_TRUE(r.Filename().empty()); // the dialog does not change Filename
    for (int f = 0; f < 5; ++f) {
        gdi::Bitmap bm = Solid(6, 4, static_cast<uint8_t>(40 * f), 7, 200);
        bm.FillRect(0, 0, 6, 1, 255, 255, 255); // top row white
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
    TAVIRecorder r;
    r.SetDecisions(&decisions);
    r.SetSizeRestriction(avi::srNoRestriction);
    r.SetWidth(8);
    r.SetHeight(8);
    r.SetFilename(path);
    r.SetCompressor(avi::acShowDialog);
    int calls = 0;
    r.SetOnPostProcessEvent([&](TAVIRecorder* sender, gdi::Bitmap* frame) {
        EXPECT_EQ(sender, &r);
        ASSERT_EQ(frame->Width(), 8);
        if (calls++ == 0) frame->FillRect(6, 6, 8, 8, 0, 255, 0); // only on the first frame
    });
    ASSERT_TRUE(r.StartRecording());
    r.AddFrame(Solid(8, 8, 100, 0, 0)); // covers everything
    r.AddFrame(Solid(4, 4, 0, 0, 100)); // covers the top-left quarter only
    r.StopRecording(false);
    EXPECT_EQ(calls, 2);
    auto rgb = DecodeRgb24(path);
    ASSERT_EQ(rgb.size(), 2u * 8 * 8 * 3);
    EXPECT_EQ(Pixel(rgb, 8, 8, 0, 7, 7)[1], 255); // drawn by the handler
    EXPECT_EQ(Pixel(rgb, 8, 8, 1, 7, 7)[1], 255); // still there: not covered by the 4x4 source
    EXPECT_EQ(Pixel(rgb, 8, 8, 1, 0, 0)[2], 100); // new source
    EXPECT_EQ(Pixel(rgb, 8, 8, 1, 5, 0)[0], 100); // previous frame's pixels kept
}

TEST_F(RecorderTest, FilledFramesArriveAsFilledAndPassThroughTheHandler)
{
    // An odd width: rows are padded, bottom row first in the buffer.
    const std::string path = dir / "filled.avi";
    TAVIRecorder r;
    r.SetDecisions(&decisions);
    r.SetSizeRestriction(avi::srNoRestriction);
    r.SetWidth(7);
    r.SetHeight(3);
    r.SetFilename(path);
    r.SetCompressor(avi::acShowDialog);
    ASSERT_TRUE(r.StartRecording());
    ASSERT_EQ(r.FrameHeader().biHeight, 3);
    const size_t stride = gdi::Bitmap::StrideFor(7);
    ASSERT_EQ(r.FrameHeader().biSizeImage, stride * 3);
    auto fill = [&](uint8_t base) {
        uint8_t* frame = r.NextFrame();
        EXPECT_EQ(r.NextFrame(), frame) << "the same buffer until it is added";
        for (int row = 0; row < 3; ++row) // row 0 of the buffer is the bottom row
            for (int x = 0; x < 7; ++x) {
                uint8_t* p = frame + static_cast<size_t>(row) * stride + x * 3;
                p[0] = static_cast<uint8_t>(base + x), p[1] = static_cast<uint8_t>(10 * row), p[2] = 200; // B, G, R
            }
    };
    fill(0);
    r.AddFilledFrame();
    int calls = 0;
    r.SetOnPostProcessEvent([&](TAVIRecorder*, gdi::Bitmap* frame) {
        ++calls;
        EXPECT_EQ(frame->ScanLine(0)[1], 20); // the top row is the buffer's last one
        frame->FillRect(0, 0, 1, 1, 1, 2, 3);
    });
    fill(50);
    r.AddFilledFrame();
    r.StopRecording(false);
    EXPECT_EQ(calls, 1);
    const auto rgb = DecodeRgb24(path);
    ASSERT_EQ(rgb.size(), 2u * 7 * 3 * 3);
    for (int f = 0; f < 2; ++f)
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 7; ++x) {
                const uint8_t* p = Pixel(rgb, 7, 3, f, x, y);
                if (f == 1 && x == 0 && y == 0) {
                    EXPECT_EQ(std::vector<int>(p, p + 3), (std::vector<int>{1, 2, 3})); // drawn by the handler
                    continue;
                }
                EXPECT_EQ(std::vector<int>(p, p + 3), (std::vector<int>{200, 10 * (2 - y), f * 50 + x}))
                    << f << " " << x << " " << y;
            }
}

TEST_F(RecorderTest, DestroyingARecordingRecorderDeletesItsFile)
{
    const std::string path = dir / "unfinished.avi";
    {
        TAVIRecorder r;
        r.SetDecisions(&decisions);
        r.SetFilename(path);
        r.SetCompressor(avi::acShowDialog);
        ASSERT_TRUE(r.StartRecording());
        r.AddFrame(Solid(16, 16, 1, 1, 1));
        EXPECT_FALSE(FileExists(path)); // nothing under the output name until complete
        EXPECT_TRUE(FileExists(r.TemporaryPath()));
        EXPECT_EQ(r.TemporaryPath().rfind(dir.path() + "/", 0), 0u) << "in the output's folder";
    }
    EXPECT_TRUE(ListDir(dir.path()).empty());
}

TEST_F(RecorderTest, CompressorChoiceByProperty)
{
    struct Case {
        avi::TAVICompressor compressor;
        const char* codec;
    };
    for (Case c : {Case{avi::acDefault, "msvideo1"}, Case{avi::acDivX, "mpeg4"}}) {
        const std::string path = dir / (std::string(c.codec) + ".avi");
        TAVIRecorder r; // default 320 x 200
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
        decisions.codec = "XVX9";
        TAVIRecorder r;
        r.SetDecisions(&decisions);
        r.SetFilename(path);
        r.SetCompressor(avi::acShowDialog);
        expectFailure(r, "Cannot make compressed stream. No such compressor found");
        decisions.codec = "DIB ";
    }
    {
        // The recorder's own message, then the system's reason.
        TAVIRecorder r;
        const std::string missing = dir / "no-such-dir/x.avi";
        r.SetFilename(missing);
        expectFailure(
            r, "Cannot create AVI file. \"" + missing + "\": No such file or directory.");
        const std::string longName = dir / (std::string(300, 'n') + ".avi");
        r.SetFilename(longName);
        expectFailure(r, "Cannot create AVI file. \"" + longName + "\": File name too long.");
    }
    {
        // A width below the block rounds to 0: no compressor takes an empty frame.
        TAVIRecorder r;
        r.SetDecisions(&decisions);
        r.SetFilename(path);
        r.SetCompressor(avi::acShowDialog);
        r.SetWidth(5);
        ASSERT_EQ(r.Width(), 0);
        expectFailure(r,
                      "AVIStreamSetFormat Error. An AVI file holds frames of 1 to 32767 pixels in width and "
                      "height; the frames are 0 x 200. No installed compressor can take them.");
    }
    {
        // The size rule of the chosen compressor, and the ones that would do.
        decisions.codec = "MSVC";
        TAVIRecorder r;
        r.SetDecisions(&decisions);
        r.SetSizeRestriction(avi::srNoRestriction);
        r.SetWidth(321);
        r.SetHeight(241);
        r.SetFilename(path);
        r.SetCompressor(avi::acShowDialog);
        try {
            r.StartRecording();
            ADD_FAILURE() << "MSVC must refuse 321 x 241";
        } catch (const rtl::Exception& e) {
            EXPECT_EQ(e.Message.rfind("AVIStreamSetFormat Error. Microsoft Video 1 needs a width and height that are "
                                      "multiples of 4; the frames are 321 x 241. Compressors that can take them: DIB, ",
                                      0),
                      0u)
                << e.Message;
            EXPECT_EQ(e.Message.find("MSVC"), std::string::npos) << e.Message;
        }
        EXPECT_FALSE(FileExists(path));
        decisions.codec = "DIB ";
    }
    EXPECT_TRUE(ListDir(dir.path()).empty()) << "no temporary file left";
}

TEST_F(RecorderTest, CancelledCompressionDialogDeclinesTheStart)
{
    const std::string path = dir / "cancel.avi";
    decisions.compressionOk = false;
    TAVIRecorder r;
    r.SetDecisions(&decisions);
    r.SetFilename(path);
    r.SetCompressor(avi::acShowDialog);
    EXPECT_FALSE(r.StartRecording());
    EXPECT_EQ(decisions.compressionRequests.size(), 1u);
    EXPECT_FALSE(r.Recording());
    EXPECT_FALSE(FileExists(path));
}

TEST_F(RecorderTest, SecondStartFinishesTheRunningRecordingAndKeepsItsFile)
{
    TAVIRecorder r;
    r.SetDecisions(&decisions);
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

TEST_F(RecorderTest, AnExistingFileSurvivesEveryRunThatDoesNotComplete)
{
    const std::string path = dir / "keep.avi";
    WriteFile(path, "precious");
    decisions.overwrite = {true, true};
    {
        TAVIRecorder r; // stopped with deletion
        r.SetDecisions(&decisions);
        r.SetFilename(path);
        ASSERT_TRUE(r.StartRecording());
        r.AddFrame(Solid(320, 200, 5, 5, 5));
        r.StopRecording(true);
    }
    EXPECT_EQ(ReadFile(path), "precious");
    {
        TAVIRecorder r; // destroyed while recording
        r.SetDecisions(&decisions);
        r.SetFilename(path);
        ASSERT_TRUE(r.StartRecording());
        r.AddFrame(Solid(320, 200, 5, 5, 5));
    }
    EXPECT_EQ(ReadFile(path), "precious");
    EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"keep.avi"});
}

TEST_F(RecorderTest, OnlyARegularFileIsReplaced)
{
    const std::string folder = dir / "d3";
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    const std::string fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    for (const auto& [path, reason] : {std::pair<std::string, std::string>{folder, "it is a folder"},
                                       {fifo, "it is a pipe (FIFO)"},
                                       {"/dev/null", "it is a device"}}) {
        decisions.overwrite = {true};
        TAVIRecorder r;
        r.SetDecisions(&decisions);
        r.SetFilename(path);
        try {
            r.StartRecording();
            ADD_FAILURE() << path << " accepted";
        } catch (const rtl::Exception& e) {
            EXPECT_EQ(e.Message,
                      "Cannot write the AVI file to \"" + path + "\": " + reason +
                          "; only a regular file can be replaced.");
        }
        EXPECT_FALSE(r.Recording());
    }
    EXPECT_TRUE(decisions.overwriteQuestions.empty()) << "refused before asking";
    struct stat st {};
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    ASSERT_EQ(::stat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"d3", "fifo"}));
}

TEST_F(RecorderTest, WithoutAnAnswererEveryQuestionIsDeclined)
{
    const std::string path = dir / "exists.avi";
    WriteFile(path, "old");
    TAVIRecorder r;
    EXPECT_FALSE(r.StartRecording()); // no Filename and nobody to choose one
    r.SetFilename(path);
    EXPECT_FALSE(r.StartRecording()); // nobody to allow the overwrite
    EXPECT_EQ(ReadFile(path), "old");
    r.SetFilename(dir / "new.avi");
    r.SetCompressor(avi::acShowDialog);
    EXPECT_FALSE(r.StartRecording()); // nobody to choose the compressor
    EXPECT_FALSE(FileExists(dir / "new.avi"));
    EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"exists.avi"});
}
