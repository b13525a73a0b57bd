// The conversion run end to end: .vek in, AVI out, read back by ffprobe/ffmpeg.
#include <gtest/gtest.h>

#include <csignal>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "avi/avi_recorder.h"
#include "converter/conversion_run.h"
#include "platform/avifile/avifile.h"
#include "platform/rtl/exception.h"
#include "tests/platform/avifile/avi_test_support.h"
#include "tests/support/child_process.h"
#include "tests/support/media_probe.h"
#include "tests/support/scripted_decisions.h"
#include "tests/support/temp_dir.h"
#include "tests/support/vek_writer.h"

using namespace testing_support;
using converter::CompletedRun;
using converter::ConversionHooks;
using converter::ConversionResult;
using converter::RunConversion;

namespace {

class ConversionTest : public ::testing::Test {
protected:
    std::string WriteVek(const std::string& name, const VekFile& v)
    {
        WriteFile(dir / name, v.Bytes());
        return dir / name;
    }

    // Runs with the save dialog answered by output; records progress values.
    ConversionResult Run(const std::string& input, const std::string& output)
    {
        decisions.outputPaths = {output};
        decisions.codec = codec;
        decisions.quality = quality;
        ConversionHooks hooks;
        hooks.decisions = &decisions;
        hooks.stopRequested = stopRequested;
        hooks.progress = [this](int p) {
            ++progressCalls;
            if (progress.empty() || progress.back() != p) progress.push_back(p);
        };
        hooks.completed = [this](const CompletedRun& run) {
            ++completed;
            lastRun = run;
        };
        return RunConversion(input, hooks);
    }

    // The run's error message, or "" when it did not fail.
    std::string Failure(const std::string& input, const std::string& output)
    {
        try {
            Run(input, output);
        } catch (const rtl::Exception& e) {
            return e.Message;
        }
        return "";
    }

    int ChooserCalls() const { return static_cast<int>(decisions.compressionRequests.size()); }

    TempDir dir;
    ScriptedDecisions decisions;
    std::string codec = "DIB ";
    avifile::DWORD quality = 7500;
    std::function<bool()> stopRequested;
    int completed = 0, progressCalls = 0;
    CompletedRun lastRun;
    std::vector<int> progress;
};

// What the video must show for the stored frames: each channel doubled, RGB order.
std::vector<uint8_t> Expected(const VekFile& v)
{
    std::vector<uint8_t> rgb(v.frames.size());
    for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(v.frames[i] * 2);
    return rgb;
}

} // namespace

TEST_F(ConversionTest, UncompressedVideoHoldsExactlyTheTransformedFrames)
{
    VekFile v = RandomVek(3, 7, 5, 42); // odd width: padded rows; full 8-bit values wrap
    v.reserved[0] = 0xAB;
    const std::string out = dir / "exact.avi";
    ASSERT_EQ(Run(WriteVek("exact.vek", v), out), ConversionResult::Completed);
    EXPECT_EQ(completed, 1);
    EXPECT_EQ(ChooserCalls(), 1);
    VideoProbe p = ProbeVideo(out);
    ASSERT_TRUE(p.ok) << p.errors;
    EXPECT_EQ(p.width, 7);
    EXPECT_EQ(p.height, 5);
    EXPECT_EQ(p.frameRate, "25/1");
    EXPECT_EQ(p.packets, 3);
    EXPECT_EQ(p.keyPackets, 3);
    EXPECT_EQ(DecodeRgb24(out), Expected(v)); // first stored row is the top row
}

TEST_F(ConversionTest, ReservedBytesDoNotChangeTheResult)
{
    VekFile a = RandomVek(2, 4, 4, 7), b = a;
    for (auto& r : b.reserved) r = 0xFF;
    ASSERT_EQ(Run(WriteVek("a.vek", a), dir / "a.avi"), ConversionResult::Completed);
    ASSERT_EQ(Run(WriteVek("b.vek", b), dir / "b.avi"), ConversionResult::Completed);
    EXPECT_EQ(DecodeRgb24(dir / "a.avi"), DecodeRgb24(dir / "b.avi"));
}

TEST_F(ConversionTest, ProgressFollowsTheFrameIndexAndStopsShortOf100)
{
    ASSERT_EQ(Run(WriteVek("four.vek", RandomVek(4, 2, 3, 1)), dir / "four.avi"), ConversionResult::Completed);
    EXPECT_EQ(progress, (std::vector<int>{0, 25, 50, 75}));
    EXPECT_EQ(progressCalls, 4); // once per frame
    progress.clear();
    ASSERT_EQ(Run(WriteVek("eight.vek", RandomVek(8, 2, 1, 1)), dir / "eight.avi"), ConversionResult::Completed);
    EXPECT_EQ(progress, (std::vector<int>{0, 12, 25, 38, 50, 62, 75, 88}));
}

TEST_F(ConversionTest, ZeroFramesStillWriteAValidEmptyVideo)
{
    const std::string out = dir / "empty.avi";
    ASSERT_EQ(Run(WriteVek("zero.vek", RandomVek(0, 16, 8, 1)), out), ConversionResult::Completed);
    EXPECT_EQ(completed, 1);
    VideoProbe p = ProbeVideo(out);
    ASSERT_TRUE(p.ok) << p.errors;
    EXPECT_EQ(p.streams, 1);
    EXPECT_EQ(p.packets, 0);
    EXPECT_TRUE(progress.empty());
}

TEST_F(ConversionTest, FramesWithoutBytesAreRefusedBeforeAnyOutput)
{
    // 14 bytes that promise 2^31 - 1 frames of no bytes: the recorder would
    // write its default picture for ever.
    for (auto [w, h] : {std::pair<uint16_t, uint16_t>{0, 6}, {6, 0}, {0, 0}}) {
        VekFile v;
        v.frameCount = 0x7FFFFFFF;
        v.width = w;
        v.height = h;
        const std::string input = WriteVek("empty-frames.vek", v);
        const std::string message = Failure(input, dir / "w0.avi");
        EXPECT_EQ(message,
                  "Cannot convert \"" + input + "\": its frames of " + std::to_string(w) + " x " + std::to_string(h) +
                      " pixels hold no bytes.");
        EXPECT_EQ(decisions.pathRequests, 0) << "refused before any question";
        EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"empty-frames.vek"});
    }
}

TEST_F(ConversionTest, AFrameSizeTheRecorderWouldChangeIsRefused)
{
    const std::string input = WriteVek("odd.vek", RandomVek(2, 13, 9, 2));
    ConversionHooks hooks;
    hooks.decisions = &decisions;
    decisions.outputPaths = {dir / "odd.avi"};
    hooks.configure = [](avi::TAVIRecorder& r) { r.SetSizeRestriction(avi::srForceBlock8x8); };
    try {
        RunConversion(input, hooks);
        ADD_FAILURE() << "a rounded frame size was accepted";
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(e.Message,
                  "Cannot convert \"" + input +
                      "\": its frames are 13 x 9 pixels, but the recorder would write 8 x 8.");
    }
    EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"odd.vek"});
}

TEST_F(ConversionTest, TheOutputMayNotBeTheInputUnderAnyName)
{
    const VekFile v = RandomVek(2, 4, 4, 11);
    const std::string input = WriteVek("s.vek", v);
    ASSERT_EQ(::symlink(input.c_str(), (dir / "link.avi").c_str()), 0);
    ASSERT_EQ(::link(input.c_str(), (dir / "hard.avi").c_str()), 0);
    ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0755), 0);
    for (const std::string& out : {input, dir / "link.avi", dir / "hard.avi", dir / "sub/../s.vek"}) {
        decisions.overwrite = {true};
        const std::string message = Failure(input, out);
        EXPECT_EQ(message,
                  "Cannot convert \"" + input + "\": the output file \"" + out + "\" is the input file itself.");
        EXPECT_TRUE(decisions.overwriteQuestions.empty()) << "refused before the overwrite question: " << out;
        EXPECT_EQ(ReadFile(input), v.Bytes()) << out;
    }
    EXPECT_EQ(completed, 0);
    EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"hard.avi", "link.avi", "s.vek", "sub"}));
}

TEST_F(ConversionTest, InputThatIsNoRegularFileIsRefusedAtOnce)
{
    const std::string out = dir / "o.avi";
    const std::string folder = dir / "folder.vek";
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    const std::string fifo = dir / "fifo.vek";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0); // no writer: opening it for reading would wait for ever
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    const std::string bytes = RandomVek(1, 2, 2, 1).Bytes();
    ASSERT_EQ(::write(pipeEnds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(pipeEnds[1]);
    const std::string pipePath = "/dev/fd/" + std::to_string(pipeEnds[0]);
    const std::string pipeReason =
        "it is a pipe, and frame files are read from disk; save the data to a file and convert that";
    struct Case {
        std::string path, reason;
    };
    for (const Case& c : {Case{folder, "it is a folder, not a frame file"}, Case{fifo, pipeReason},
                          Case{pipePath, pipeReason}, Case{"/dev/zero", "it is a device, not a frame file"}}) {
        EXPECT_EQ(Failure(c.path, out), "Cannot convert \"" + c.path + "\": " + c.reason + ".");
        EXPECT_EQ(decisions.pathRequests, 0);
    }
    ::close(pipeEnds[0]);
    EXPECT_FALSE(FileExists(out));
}

TEST_F(ConversionTest, AStopRequestEndsTheRunWithoutOutputAndKeepsTheOldFile)
{
    const std::string input = WriteVek("long.vek", RandomVek(6, 8, 8, 3));
    const std::string out = dir / "keep.avi";
    WriteFile(out, "old");
    decisions.overwrite = {true};
    int asked = 0;
    stopRequested = [&] { return ++asked > 2; }; // before the third frame
    try {
        Run(input, out);
        ADD_FAILURE() << "not interrupted";
    } catch (const converter::EInterrupted& e) {
        EXPECT_EQ(e.Message, "The conversion was interrupted.");
    }
    EXPECT_EQ(completed, 0);
    EXPECT_EQ(ReadFile(out), "old");
    EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"keep.avi", "long.vek"}));
}

TEST_F(ConversionTest, DeclinedStartIsNotASuccessAndWritesNothing)
{
    const std::string input = WriteVek("d.vek", RandomVek(2, 4, 4, 3));
    EXPECT_EQ(Run(input, ""), ConversionResult::Declined); // save dialog cancelled
    EXPECT_EQ(completed, 0);
    EXPECT_EQ(ChooserCalls(), 0);

    const std::string existing = dir / "keep.avi";
    WriteFile(existing, "old");
    decisions.overwrite = {false};
    EXPECT_EQ(Run(input, existing), ConversionResult::Declined); // overwrite declined
    EXPECT_EQ(ReadFile(existing), "old");
    EXPECT_EQ(completed, 0);
    EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"d.vek", "keep.avi"}));
}

TEST_F(ConversionTest, MalformedFramesFilesFailClearlyAndLeaveNoOutput)
{
    const std::string out = dir / "bad.avi";
    VekFile ok = RandomVek(3, 4, 4, 5);
    std::string full = ok.Bytes();
    struct Case {
        std::string name, bytes, expected;
    };
    VekFile negative = ok;
    negative.frameCount = 0x80000001u;
    VekFile minusOne = ok;
    minusOne.frameCount = 0xFFFFFFFFu;
    VekFile huge;
    huge.frameCount = 1;
    huge.width = huge.height = 40000;
    VekFile tooManyBytes;
    tooManyBytes.frameCount = 1;
    tooManyBytes.width = tooManyBytes.height = 32767;
    std::vector<Case> cases = {
        {"short-header.vek", full.substr(0, 5), "shorter than the 14-byte header"},
        {"truncated.vek", full.substr(0, full.size() - 1), "truncated: 3 frames of 48 bytes"},
        {"negative.vek", negative.Bytes(), "frame count -2147483647 is negative (stored as 2147483649, 2^31 or more)"},
        {"minus-one.vek", minusOne.Bytes(), "frame count -1 is negative (stored as 4294967295, 2^31 or more)"},
        {"huge.vek", huge.Bytes(), "frames of 40000 x 40000 pixels are larger than the 32767 x 32767 pixels"},
        {"too-many-bytes.vek", tooManyBytes.Bytes(), "(3221028867 bytes each) are too large"},
    };
    for (const auto& c : cases) {
        const std::string input = dir / c.name;
        WriteFile(input, c.bytes);
        const std::string message = Failure(input, out);
        EXPECT_NE(message.find("\"" + input + "\""), std::string::npos) << message;
        EXPECT_NE(message.find(c.expected), std::string::npos) << message;
        EXPECT_FALSE(FileExists(out)) << c.name;
        EXPECT_EQ(decisions.pathRequests, 0) << "no question for a file that cannot be converted: " << c.name;
        std::remove(input.c_str());
    }
    EXPECT_EQ(Failure(dir / "missing.vek", out),
              "Cannot open file \"" + (dir / "missing.vek") + "\". No such file or directory");
    EXPECT_EQ(Failure("", out), "Cannot open file \"\". No such file or directory");
    EXPECT_EQ(completed, 0);
    EXPECT_TRUE(ListDir(dir.path()).empty());
}

TEST_F(ConversionTest, RecorderFailureMidRunRemovesThePartialFile)
{
    // A compressor that is not installed fails at the start; the run's file is gone.
    codec = "QQQQ";
    const std::string out = dir / "nocodec.avi";
    EXPECT_EQ(Failure(WriteVek("n.vek", RandomVek(2, 8, 8, 1)), out),
              "Cannot make compressed stream. No such compressor found");
    EXPECT_FALSE(FileExists(out));
}

TEST_F(ConversionTest, LossyCompressorsStayCloseToTheSource)
{
    // A smooth picture, as video usually is; random noise would say little about a codec.
    VekFile v;
    v.frameCount = 4;
    v.width = 64;
    v.height = 48;
    for (uint32_t f = 0; f < v.frameCount; ++f)
        for (int y = 0; y < v.height; ++y)
            for (int x = 0; x < v.width; ++x) {
                v.frames.push_back(static_cast<uint8_t>((x * 2 + f) & 127));
                v.frames.push_back(static_cast<uint8_t>((y * 2) & 127));
                v.frames.push_back(static_cast<uint8_t>(((x + y) + 10 * f) & 127));
            }
    const std::string input = WriteVek("smooth.vek", v);
    for (const char* c : {"MSVC", "divx"}) {
        codec = c;
        const std::string out = dir / (std::string(c) + ".avi");
        ASSERT_EQ(Run(input, out), ConversionResult::Completed) << c;
        VideoProbe p = ProbeVideo(out);
        ASSERT_TRUE(p.ok) << p.errors;
        EXPECT_EQ(p.keyPackets, 4) << c;
        const double psnr = Psnr(Expected(v), DecodeRgb24(out));
        EXPECT_GT(psnr, 28.0) << c;
    }
}

// A data rate the compressor cannot keep (frames larger than their share
// even at its coarsest quality) is told with the completed run; one it
// keeps, or none, is not.
TEST_F(ConversionTest, TheCompletedRunTellsTheFramesAboveTheDataRate)
{
    codec = "divx";
    const std::string input = WriteVek("noise.vek", RandomVek(6, 64, 48, 3));
    struct Case {
        avifile::DWORD bytesPerSecond;
        bool allOver;
    } cases[] = {{1'000, true}, {4'000'000, false}, {0, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytesPerSecond);
        decisions.bytesPerSecond = c.bytesPerSecond;
        const std::string out = dir / ("rate" + std::to_string(c.bytesPerSecond) + ".avi");
        ASSERT_EQ(Run(input, out), ConversionResult::Completed);
        EXPECT_EQ(lastRun.outputPath, out);
        EXPECT_EQ(lastRun.frames, 6);
        EXPECT_EQ(lastRun.dataRate, c.bytesPerSecond);
        EXPECT_EQ(lastRun.framesOverDataRate, c.allOver ? 6 : 0);
        // The count agrees with the file: each frame's chunk against its share.
        const avitest::RiffInfo riff = avitest::ReadRiff(out);
        ASSERT_TRUE(riff.valid) << riff.error;
        int over = 0;
        for (uint32_t chunk : riff.chunkSizes) over += c.bytesPerSecond > 0 && chunk > c.bytesPerSecond / 25;
        EXPECT_EQ(over, lastRun.framesOverDataRate);
    }
}

TEST_F(ConversionTest, FullDiskFailsTheRunAndLeavesNoFile)
{
    // A file-size limit stands in for a full disk; the run happens in a child
    // process so the limit does not touch the test itself.
    const std::string input = WriteVek("big.vek", RandomVek(12, 300, 300, 4));
    ASSERT_EQ(Run(input, dir / "whole.avi"), ConversionResult::Completed);
    const rlim_t whole = ReadFile(dir / "whole.avi").size();
    completed = 0;
    const std::string out = dir / "full.avi";
    WriteFile(out, "old"); // replaced only by a complete file
    // The disk fills up while frames are written, and just before the index.
    for (rlim_t limit : {whole / 3, whole - 20}) {
        const vektest::TChildResult r = vektest::RunInChild([&] {
            ::signal(SIGXFSZ, SIG_IGN);
            rlimit r{limit, limit};
            ::setrlimit(RLIMIT_FSIZE, &r);
            decisions.overwrite = {true};
            int code = 0;
            const std::string reason = " The file reached the size limit for files (File too large).";
            try {
                Run(input, out);
                code = 10; // reported as a success
            } catch (const rtl::Exception& e) {
                const bool expected = e.Message == "Add Frame Error." + reason ||
                    e.Message == "Cannot complete AVI file. Disk full or file in use?" + reason;
                code = expected ? 0 : 11;
                if (!expected) std::fprintf(stderr, "limit %lu: %s\n", (unsigned long)limit, e.Message.c_str());
            }
            if (completed) code = 12;
            if (ReadFile(out) != "old") code = 13;
            return code;
        });
        ASSERT_TRUE(r.Exited) << r.Output;
        EXPECT_EQ(r.ExitCode, 0) << "limit " << limit << ": " << r.Output;
    }
    EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"big.vek", "full.avi", "whole.avi"}));
}
