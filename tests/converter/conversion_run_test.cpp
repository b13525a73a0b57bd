// The conversion run end to end: .vek in, AVI out, read back by ffprobe/ffmpeg.
#include <gtest/gtest.h>

#include <csignal>
#include <set>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "avi/avi_recorder.h"
#include "converter/conversion_run.h"
#include "platform/avifile/avifile.h"
#include "platform/rtl/exception.h"
#include "tests/support/media_probe.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"
#include "tests/support/vek_writer.h"

using namespace testing_support;
using converter::ConversionHooks;
using converter::ConversionResult;
using converter::RunConversion;

namespace {

class ConversionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        previous_ = avifile::SetSaveOptionsChooser([this](avifile::UINT, avifile::AVICOMPRESSOPTIONS& o) {
            ++chooserCalls;
            o.fccHandler = avifile::StringToFourCC(codec);
            o.dwQuality = quality;
            return true;
        });
    }
    void TearDown() override { avifile::SetSaveOptionsChooser(previous_); }

    std::string WriteVek(const std::string& name, const VekFile& v)
    {
        WriteFile(dir / name, v.Bytes());
        return dir / name;
    }

    // Runs with the save dialog answered by output; records progress values.
    ConversionResult Run(const std::string& input, const std::string& output)
    {
        dialogs.savePaths = {output};
        ConversionHooks hooks;
        hooks.progress = [this](int p) {
            ++progressCalls;
            if (progress.empty() || progress.back() != p) progress.push_back(p);
        };
        hooks.completed = [this] { ++completed; };
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

    TempDir dir;
    ScriptedDialogs dialogs;
    ui::ScopedDialogProvider useDialogs{&dialogs};
    std::string codec = "DIB ";
    avifile::DWORD quality = 7500;
    int chooserCalls = 0, completed = 0, progressCalls = 0;
    std::vector<int> progress;

private:
    avifile::SaveOptionsChooser previous_;
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
    VekFile v = RandomVek(3, 7, 5, 42);  // odd width: padded rows; full 8-bit values wrap
    v.reserved[0] = 0xAB;
    const std::string out = dir / "exact.avi";
    ASSERT_EQ(Run(WriteVek("exact.vek", v), out), ConversionResult::Completed);
    EXPECT_EQ(completed, 1);
    EXPECT_EQ(chooserCalls, 1);
    VideoProbe p = ProbeVideo(out);
    ASSERT_TRUE(p.ok) << p.errors;
    EXPECT_EQ(p.width, 7);
    EXPECT_EQ(p.height, 5);
    EXPECT_EQ(p.frameRate, "25/1");
    EXPECT_EQ(p.packets, 3);
    EXPECT_EQ(p.keyPackets, 3);
    EXPECT_EQ(DecodeRgb24(out), Expected(v));  // first stored row is the top row
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
    EXPECT_EQ(progressCalls, 4 * 3);  // once per row
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

TEST_F(ConversionTest, EmptyFrameDimensionKeepsTheRecorderDefault)
{
    VekFile v;
    v.frameCount = 2;
    v.width = 0;
    v.height = 6;
    const std::string out = dir / "w0.avi";
    ASSERT_EQ(Run(WriteVek("w0.vek", v), out), ConversionResult::Completed);
    VideoProbe p = ProbeVideo(out);
    ASSERT_TRUE(p.ok) << p.errors;
    EXPECT_EQ(p.width, 320);  // ignored size 0: the default stays
    EXPECT_EQ(p.height, 6);
    EXPECT_EQ(p.packets, 2);
    auto rgb = DecodeRgb24(out);
    ASSERT_EQ(rgb.size(), 2u * 320 * 6 * 3);
    EXPECT_EQ(std::set<uint8_t>(rgb.begin(), rgb.end()), std::set<uint8_t>{0});  // the untouched black image
}

TEST_F(ConversionTest, DeclinedStartIsNotASuccessAndWritesNothing)
{
    const std::string input = WriteVek("d.vek", RandomVek(2, 4, 4, 3));
    EXPECT_EQ(Run(input, ""), ConversionResult::Declined);  // save dialog cancelled
    EXPECT_EQ(completed, 0);
    EXPECT_EQ(chooserCalls, 0);

    const std::string existing = dir / "keep.avi";
    WriteFile(existing, "old");
    dialogs.answers = {ui::mrNo};
    EXPECT_EQ(Run(input, existing), ConversionResult::Declined);  // overwrite declined
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
    VekFile huge;
    huge.frameCount = 1;
    huge.width = huge.height = 40000;
    std::vector<Case> cases = {
        {"short-header.vek", full.substr(0, 5), "shorter than the 14-byte header"},
        {"truncated.vek", full.substr(0, full.size() - 1), "truncated: 3 frames of 48 bytes"},
        {"negative.vek", negative.Bytes(), "frame count 2147483649 is 2^31 or more"},
        {"huge.vek", huge.Bytes(), "too large"},
    };
    for (const auto& c : cases) {
        const std::string input = dir / c.name;
        WriteFile(input, c.bytes);
        const std::string message = Failure(input, out);
        EXPECT_NE(message.find("\"" + input + "\""), std::string::npos) << message;
        EXPECT_NE(message.find(c.expected), std::string::npos) << message;
        EXPECT_FALSE(FileExists(out)) << c.name;
        EXPECT_TRUE(dialogs.saveRequests.empty()) << "no dialog for a file that cannot be converted: " << c.name;
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

TEST_F(ConversionTest, FullDiskFailsTheRunAndLeavesNoFile)
{
    // A file-size limit stands in for a full disk; the run happens in a child
    // process so the limit does not touch the test itself.
    const std::string input = WriteVek("big.vek", RandomVek(12, 300, 300, 4));
    ASSERT_EQ(Run(input, dir / "whole.avi"), ConversionResult::Completed);
    const rlim_t whole = ReadFile(dir / "whole.avi").size();
    completed = 0;
    const std::string out = dir / "full.avi";
    // The disk fills up while frames are written, and just before the index.
    for (rlim_t limit : {whole / 3, whole - 20}) {
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::signal(SIGXFSZ, SIG_IGN);
            rlimit r{limit, limit};
            ::setrlimit(RLIMIT_FSIZE, &r);
            int code = 0;
            try {
                Run(input, out);
                code = 10;  // reported as a success
            } catch (const rtl::Exception& e) {
                const bool expected = e.Message == "Add Frame Error" ||
                                      e.Message == "Cannot complete AVI file. Disk full or file in use?";
                code = expected ? 0 : 11;
                if (std::getenv("VEK_TEST_VERBOSE")) std::fprintf(stderr, "limit %lu: %s\n", (unsigned long)limit, e.Message.c_str());
            }
            if (completed) code = 12;
            if (FileExists(out)) code = 13;
            ::_exit(code);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "limit " << limit;
    }
}
