// The command-line converter as a user runs it: exit codes, messages, files.
#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/media_probe.h"
#include "tests/support/temp_dir.h"
#include "tests/support/vek_writer.h"

using namespace testing_support;

namespace {

struct Result {
    int status;
    std::string out, err;
};

Result Vek2avi(const std::string& args, const TempDir& dir)
{
    const std::string err = dir / "stderr.txt";
    Result r;
    r.out = RunCommand(std::string(VEK_BUILD_DIR) + "/converter/vek2avi " + args + " 2>" + ShellQuote(err) +
                           " </dev/null",
                       &r.status);
    r.err = ReadFile(err);
    std::remove(err.c_str());
    return r;
}

} // namespace

TEST(Vek2aviCli, HelpUsageAndCodecList)
{
    TempDir dir;
    Result help = Vek2avi("--help", dir);
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--list-codecs"), std::string::npos);

    for (const char* bad : {"", "only-one.vek", "--quality 101 a.vek b.avi", "--bogus a b", "--fps", "--codec TOOLONG a b"}) {
        Result r = Vek2avi(bad, dir);
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_NE(r.err.find("Usage:"), std::string::npos) << bad;
    }

    Result list = Vek2avi("--list-codecs", dir);
    EXPECT_EQ(list.status, 0);
    EXPECT_NE(list.out.find("DIB "), std::string::npos);
    EXPECT_NE(list.out.find("MSVC"), std::string::npos);
    EXPECT_NE(list.out.find("divx"), std::string::npos);
}

TEST(Vek2aviCli, SampleConvertsWithEachListedCodec)
{
    TempDir dir;
    const std::string vek = dir / "s.vek";
    Result made = Vek2avi("--sample " + ShellQuote(vek) + " --frames 6 --width 64 --height 48", dir);
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(ReadFile(vek).size(), 14u + 6 * 64 * 48 * 3);

    Result list = Vek2avi("--list-codecs", dir);
    std::istringstream lines(list.out);
    std::string line;
    int codecs = 0;
    while (std::getline(lines, line)) {
        const std::string fourcc = line.substr(0, 4);
        const std::string avi = dir / ("out" + std::to_string(codecs++) + ".avi");
        Result r = Vek2avi("--codec " + ShellQuote(fourcc) + " --fps 12 " + ShellQuote(vek) + " " + ShellQuote(avi), dir);
        ASSERT_EQ(r.status, 0) << fourcc << ": " << r.err;
        VideoProbe p = ProbeVideo(avi);
        EXPECT_TRUE(p.ok) << fourcc << ": " << p.errors;
        EXPECT_EQ(p.width, 64) << fourcc;
        EXPECT_EQ(p.packets, 6) << fourcc;
        EXPECT_EQ(p.keyPackets, 6) << fourcc;
        EXPECT_EQ(p.frameRate, "12/1") << fourcc;
    }
    EXPECT_GE(codecs, 3);
}

TEST(Vek2aviCli, ExistingOutputNeedsForceAndFailuresAreReported)
{
    TempDir dir;
    const std::string vek = dir / "in.vek", avi = dir / "out.avi";
    WriteFile(vek, RandomVek(2, 8, 8, 9).Bytes());
    WriteFile(avi, "keep me");

    Result refused = Vek2avi(ShellQuote(vek) + " " + ShellQuote(avi), dir);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("--force"), std::string::npos) << refused.err;
    EXPECT_EQ(ReadFile(avi), "keep me");

    Result forced = Vek2avi("--force " + ShellQuote(vek) + " " + ShellQuote(avi), dir);
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_EQ(ProbeVideo(avi).codec, "msvideo1");

    Result missing = Vek2avi(ShellQuote(dir / "nope.vek") + " " + ShellQuote(dir / "x.avi"), dir);
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("Cannot open file"), std::string::npos);
    EXPECT_FALSE(FileExists(dir / "x.avi"));

    Result codec = Vek2avi("--codec ZZZZ " + ShellQuote(vek) + " " + ShellQuote(dir / "y.avi"), dir);
    EXPECT_EQ(codec.status, 1);
    EXPECT_NE(codec.err.find("not installed"), std::string::npos);
    EXPECT_FALSE(FileExists(dir / "y.avi"));
}
