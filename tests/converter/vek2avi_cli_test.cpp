// The command-line converter as a user runs it: exit codes, messages, files.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>

#include "tests/support/media_probe.h"
#include "tests/support/run_command.h"
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
    r.out = RunCommand(
        std::string(VEK_BUILD_DIR) + "/converter/vek2avi " + args + " 2>" + ShellQuote(err) + " </dev/null", &r.status);
    r.err = ReadFile(err);
    std::remove(err.c_str());
    return r;
}

std::string Vek2aviPath() { return std::string(VEK_BUILD_DIR) + "/converter/vek2avi"; }

// Names in the folder that are left-overs of an unfinished write.
std::vector<std::string> PartialFiles(const std::string& folder)
{
    std::vector<std::string> partial;
    for (const auto& name : ListDir(folder))
        if (name.size() > 5 && name.compare(name.size() - 5, 5, ".part") == 0) partial.push_back(name);
    return partial;
}

// Starts vek2avi with args, waits until a ".part" file appears in folder,
// stops it there, sends sig and lets it go on; returns the wait status.
int InterruptWhilePartial(const std::vector<std::string>& args, const std::string& folder, int sig, bool* sawPartial)
{
    const pid_t child = ::fork();
    if (child == 0) {
        std::vector<char*> argv;
        static std::string program = Vek2aviPath();
        argv.push_back(program.data());
        std::vector<std::string> copy = args;
        for (auto& a : copy) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    *sawPartial = false;
    int status = 0;
    // Polls without a time limit of its own: the run is long enough that
    // the partial file shows up, and ctest's time-out ends a hung test.
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (!PartialFiles(folder).empty()) {
            *sawPartial = true;
            ::kill(child, SIGSTOP);
            ::kill(child, sig);
            ::kill(child, SIGCONT);
            ::waitpid(child, &status, 0);
            return status;
        }
        ::usleep(200);
    }
    return status;
}

} // namespace

TEST(Vek2aviCli, HelpUsageAndCodecList)
{
    TempDir dir;
    Result help = Vek2avi("--help", dir);
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--list-codecs"), std::string::npos);

    for (const char* bad : {"", "only-one.vek", "--quality 101 a.vek b.avi", "--bogus a b", "--fps",
                            "--codec TOOLONG a b", "a.vek b.avi extra", "--list-codecs extra", "--help extra",
                            "--frames 3 a.vek b.avi", "--sample s.vek --codec DIB", "--force= a b", "--codec= a b"}) {
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
        Result r =
            Vek2avi("--codec " + ShellQuote(fourcc) + " --fps 12 " + ShellQuote(vek) + " " + ShellQuote(avi), dir);
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

// The program loads no window toolkit, and the codec libraries (which bring
// X11, cairo and a hundred more with them) only when a compressor of theirs
// is used: a full-frame conversion never loads them.
TEST(Vek2aviCli, LinksNoWindowToolkitAndLoadsTheCodecLibrariesOnDemand)
{
    int status = -1;
    const std::string all = RunCommand("ldd " + ShellQuote(Vek2aviPath()), &status);
    ASSERT_EQ(status, 0);
    ASSERT_NE(all.find("libc.so"), std::string::npos) << all;
    for (const char* lib : {"libX11", "libxcb", "libXext", "libXfixes", "libcairo", "libpango", "libavcodec", "libavutil",
                            "libswscale"})
        EXPECT_EQ(all.find(lib), std::string::npos) << lib << " in\n" << all;

    TempDir dir;
    const std::string vek = dir / "in.vek";
    WriteFile(vek, RandomVek(2, 16, 16, 5).Bytes());
    struct Case {
        const char* codec;
        bool loadsCodecs;
    } cases[] = {{"DIB ", false}, {"MSVC", false}, {"divx", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.codec);
        const std::string opened =
            RunCommand("LD_DEBUG=files " + ShellQuote(Vek2aviPath()) + " --force --codec " +
                           ShellQuote(c.codec) + " " + ShellQuote(vek) + " " + ShellQuote(dir / "out.avi") + " 2>&1",
                       &status);
        ASSERT_EQ(status, 0) << opened;
        EXPECT_EQ(opened.find("libavcodec.so") != std::string::npos, c.loadsCodecs) << opened;
        EXPECT_EQ(ProbeVideo(dir / "out.avi").packets, 2);
    }
}

TEST(Vek2aviCli, FramesWithoutBytesAreRefusedAtOnce)
{
    TempDir dir;
    VekFile v;
    v.frameCount = 0x7FFFFFFF;
    v.width = 0;
    v.height = 10;
    const std::string vek = dir / "z.vek", avi = dir / "z.avi";
    WriteFile(vek, v.Bytes());
    ASSERT_EQ(ReadFile(vek).size(), 14u);
    Result r = Vek2avi("--codec DIB " + ShellQuote(vek) + " " + ShellQuote(avi), dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vek2avi: Cannot convert \"" + vek + "\": its frames of 0 x 10 pixels hold no bytes.\n");
    EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"z.vek"});
}

TEST(Vek2aviCli, TheInputIsNeverTheOutput)
{
    TempDir dir;
    const std::string vek = dir / "s.vek";
    const std::string bytes = RandomVek(2, 8, 8, 4).Bytes();
    WriteFile(vek, bytes);
    ASSERT_EQ(::symlink(vek.c_str(), (dir / "l.avi").c_str()), 0);
    for (const std::string& out :
         {vek, dir / "l.avi", dir / "./../" + dir.path().substr(dir.path().rfind('/') + 1) + "/s.vek"}) {
        Result r = Vek2avi("--force " + ShellQuote(vek) + " " + ShellQuote(out), dir);
        EXPECT_EQ(r.status, 1) << out;
        EXPECT_NE(r.err.find("is the input file itself"), std::string::npos) << r.err;
        EXPECT_EQ(ReadFile(vek), bytes) << out;
    }
}

TEST(Vek2aviCli, OnlyRegularFilesAreReplaced)
{
    TempDir dir;
    const std::string vek = dir / "small.vek";
    WriteFile(vek, RandomVek(1, 8, 8, 4).Bytes());
    const std::string d3 = dir / "d3", full = dir / "full";
    ASSERT_EQ(::mkdir(d3.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(full.c_str(), 0755), 0);
    WriteFile(full + "/inside", "x");
    for (const std::string& out : {d3, full}) {
        Result r = Vek2avi("--force " + ShellQuote(vek) + " " + ShellQuote(out), dir);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err,
                  "vek2avi: Cannot write the AVI file to \"" + out +
                      "\": it is a folder; only a regular file can be replaced.\n");
        struct stat st {};
        ASSERT_EQ(::stat(out.c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
    }
    EXPECT_EQ(ReadFile(full + "/inside"), "x");
    const std::string missing = dir / "no/such/folder.avi";
    Result r = Vek2avi(ShellQuote(vek) + " " + ShellQuote(missing), dir);
    EXPECT_EQ(r.err,
              "vek2avi: Cannot create AVI file. \"" + missing +
                  "\": No such file or directory.\n");
    EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"d3", "full", "small.vek"}));
}

TEST(Vek2aviCli, InputMustBeARegularFile)
{
    TempDir dir;
    const std::string vek = dir / "a.vek", fifo = dir / "f.vek";
    WriteFile(vek, RandomVek(1, 4, 4, 4).Bytes());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const std::string out = dir / "o.avi";
    Result r = Vek2avi(ShellQuote(fifo) + " " + ShellQuote(out), dir); // would wait for a writer for ever
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("it is a pipe"), std::string::npos) << r.err;
    r = Vek2avi("/dev/zero " + ShellQuote(out), dir);
    EXPECT_EQ(r.err, "vek2avi: Cannot convert \"/dev/zero\": it is a device, not a frame file.\n");
    r = Vek2avi(ShellQuote(dir.path()) + " " + ShellQuote(out), dir);
    EXPECT_EQ(r.err, "vek2avi: Cannot convert \"" + dir.path() + "\": it is a folder, not a frame file.\n");
    // A process substitution hands over a pipe whose size fstat cannot tell.
    const std::string err = dir / "err.txt";
    int status = -1;
    RunCommand(
        "bash -c " +
            ShellQuote(Vek2aviPath() + " <(cat " + ShellQuote(vek) + ") " + ShellQuote(out) + " 2>" + ShellQuote(err)),
        &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(ReadFile(err).find("it is a pipe, and frame files are read from disk"), std::string::npos)
        << ReadFile(err);
    EXPECT_FALSE(FileExists(out));
}

TEST(Vek2aviCli, SignalsRemoveThePartialFileAndEndByTheSignal)
{
    TempDir dir;
    const std::string vek = dir / "big.vek", avi = dir / "out.avi";
    Result made = Vek2avi("--sample " + ShellQuote(vek) + " --frames 400 --width 320 --height 240", dir);
    ASSERT_EQ(made.status, 0) << made.err;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        WriteFile(avi, "old");
        bool sawPartial = false;
        const int status = InterruptWhilePartial({"--force", "--codec", "MSVC", "--quality", "100", vek, avi},
                                                 dir.path(), sig, &sawPartial);
        ASSERT_TRUE(sawPartial) << "the run ended before it could be interrupted";
        ASSERT_TRUE(WIFSIGNALED(status)) << "signal " << sig << ": status " << status;
        EXPECT_EQ(WTERMSIG(status), sig); // the shell shows 128 + signal
        EXPECT_EQ(ReadFile(avi), "old");
        EXPECT_TRUE(PartialFiles(dir.path()).empty());
    }
    // --sample too leaves nothing behind.
    bool sawPartial = false;
    const int sampled =
        InterruptWhilePartial({"--sample", dir / "s.vek", "--frames", "100000"}, dir.path(), SIGINT, &sawPartial);
    ASSERT_TRUE(sawPartial);
    EXPECT_TRUE(WIFSIGNALED(sampled) && WTERMSIG(sampled) == SIGINT) << sampled;
    EXPECT_TRUE(PartialFiles(dir.path()).empty());
    EXPECT_FALSE(FileExists(dir / "s.vek"));
}

TEST(Vek2aviCli, AFileSizeLimitIsAWriteError)
{
    TempDir dir;
    const std::string vek = dir / "in.vek", avi = dir / "out.avi";
    WriteFile(vek, RandomVek(100, 128, 128, 4).Bytes()); // more than the writer buffers
    WriteFile(avi, "old");
    const std::string err = dir / "err.txt";
    int status = -1;
    // 100 blocks of 512 bytes: the frames do not fit.
    RunCommand("sh -c " +
                   ShellQuote("ulimit -f 100; exec " + Vek2aviPath() + " --force --codec DIB " + ShellQuote(vek) + " " +
                              ShellQuote(avi) + " 2>" + ShellQuote(err)),
               &status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(ReadFile(err), "vek2avi: Add Frame Error. The file reached the size limit for files (File too large).\n");
    EXPECT_EQ(ReadFile(avi), "old");
    EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"err.txt", "in.vek", "out.avi"}));
}

TEST(Vek2aviCli, SizeRulesAreExplainedAndTheDefaultFitsTheSize)
{
    TempDir dir;
    const std::string vek = dir / "odd.vek";
    WriteFile(vek, RandomVek(2, 321, 241, 4, true).Bytes());
    Result named = Vek2avi("--codec MSVC " + ShellQuote(vek) + " " + ShellQuote(dir / "a.avi"), dir);
    EXPECT_EQ(named.status, 1);
    EXPECT_EQ(named.err.rfind("vek2avi: AVIStreamSetFormat Error. Microsoft Video 1 needs a width and height that are "
                              "multiples of 4; the frames are 321 x 241. Compressors that can take them: DIB, ",
                              0),
              0u)
        << named.err;
    EXPECT_FALSE(FileExists(dir / "a.avi"));

    Result picked = Vek2avi(ShellQuote(vek) + " " + ShellQuote(dir / "b.avi"), dir);
    EXPECT_EQ(picked.status, 0) << picked.err;
    EXPECT_NE(picked.err.find("using divx"), std::string::npos) << picked.err;
    VideoProbe p = ProbeVideo(dir / "b.avi");
    EXPECT_EQ(p.codec, "mpeg4");
    EXPECT_EQ(p.width, 321);
}

TEST(Vek2aviCli, OptionValuesAfterAnEqualsSign)
{
    TempDir dir;
    const std::string vek = dir / "in.vek";
    WriteFile(vek, RandomVek(3, 16, 16, 4).Bytes());
    Result r = Vek2avi("--fps=30 --codec=DIB --quality=50 " + ShellQuote(vek) + " " + ShellQuote(dir / "o.avi"), dir);
    ASSERT_EQ(r.status, 0) << r.err;
    VideoProbe p = ProbeVideo(dir / "o.avi");
    EXPECT_EQ(p.frameRate, "30/1");
    EXPECT_EQ(p.codec, "rawvideo");
}

TEST(Vek2aviCli, TheOverwriteQuestionFollowsTheLocale)
{
    TempDir dir;
    const std::string vek = dir / "in.vek", avi = dir / "out.avi";
    WriteFile(vek, RandomVek(1, 8, 8, 4).Bytes());
    WriteFile(avi, "old");
    // A terminal for the question: script(1) runs the command on a pseudo-terminal.
    auto ask = [&](const std::string& locale) {
        const std::string command = "env -u LC_ALL -u LC_MESSAGES LANG=" + locale + " " + Vek2aviPath() + " " +
            ShellQuote(vek) + " " + ShellQuote(avi);
        return RunCommand("printf 'n\\n' | script -qec " + ShellQuote(command) + " /dev/null");
    };
    const std::string english = ask("C");
    EXPECT_NE(english.find("Replace \"" + avi + "\"? [y/N]"), std::string::npos) << english;
    const std::string chinese = ask("zh_CN.UTF-8");
    EXPECT_NE(chinese.find("\xE6\x98\xAF\xE5\x90\xA6\xE8\xA6\x86\xE7\x9B\x96 " + avi + "?"), std::string::npos)
        << chinese;
    EXPECT_EQ(ReadFile(avi), "old");
}

TEST(Vek2aviCli, SampleReplacesOnlyARegularFileAndOnlyWhenAsked)
{
    TempDir dir;
    const std::string vek = dir / "s.vek";
    WriteFile(vek, "precious");
    Result kept = Vek2avi("--sample " + ShellQuote(vek) + " --frames 1", dir);
    EXPECT_EQ(kept.status, 1);
    EXPECT_EQ(kept.err, "vek2avi: Cannot write file \"" + vek + "\": it exists.\n");
    EXPECT_EQ(ReadFile(vek), "precious");
    Result forced = Vek2avi("--sample " + ShellQuote(vek) + " --frames 1 --width 4 --height 4 --force", dir);
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_EQ(ReadFile(vek).size(), 14u + 4 * 4 * 3);

    // A pipe (or a device) at the name is never replaced, forced or not.
    const std::string fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    Result piped = Vek2avi("--force --sample " + ShellQuote(fifo) + " --frames 1", dir);
    EXPECT_EQ(piped.status, 1);
    EXPECT_EQ(piped.err,
              "vek2avi: Cannot write file \"" + fifo +
                  "\": it is a pipe (FIFO); only a regular file can be replaced.\n");
    struct stat st {};
    ASSERT_EQ(::stat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"fifo", "s.vek"}));

    Result empty = Vek2avi(ShellQuote(vek) + " ''", dir);
    EXPECT_EQ(empty.status, 2);
    EXPECT_NE(empty.err.find("a file name is empty"), std::string::npos) << empty.err;
}

// A disk that fills up: a small memory file system in a mount namespace of
// the test's own (skipped where the system allows none).
TEST(Vek2aviCli, AFullDiskIsNamedAndTheOldFileSurvives)
{
    TempDir dir;
    const std::string vek = dir / "in.vek", disk = dir / "disk";
    WriteFile(vek, RandomVek(100, 128, 128, 4).Bytes()); // 4.9 MB of frames for a 256 KiB disk
    ASSERT_EQ(::mkdir(disk.c_str(), 0755), 0);
    int status = -1;
    RunCommand("unshare -rm true 2>/dev/null", &status);
    if (status != 0) GTEST_SKIP() << "no mount namespace for a small file system";
    // Full frames are written as they come; lossless ones are compressed side by side.
    for (const char* codec : {"DIB", "HFYU"}) {
        const std::string script = "mount -t tmpfs -o size=256k none " + ShellQuote(disk) + " && echo old > " +
            ShellQuote(disk + "/out.avi") + " && { " + Vek2aviPath() + " --force --codec " + codec + " " +
            ShellQuote(vek) + " " + ShellQuote(disk + "/out.avi") + " 2>&1; echo status $?; cat " +
            ShellQuote(disk + "/out.avi") + "; ls " + ShellQuote(disk) + "; }";
        const std::string out = RunCommand("unshare -rm sh -c " + ShellQuote(script), &status);
        EXPECT_EQ(out, "vek2avi: Add Frame Error. The disk is full (No space left on device).\nstatus 1\nold\nout.avi\n")
            << codec;
    }
}
