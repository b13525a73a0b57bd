// TTGZWriter and the archive of attachments, checked with GNU tar, gzip and
// Python's tarfile: listing, dates, sizes, extraction, the block structure.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <optional>
#include <fcntl.h>

#include "crashreport/codecs/attachment_archive.h"
#include "crashreport/codecs/codec_error.h"
#include "crashreport/codecs/day_count.h"
#include "crashreport/codecs/file_io.h"
#include "crashreport/codecs/gzip_reader.h"
#include "crashreport/codecs/tgz_writer.h"
#include "test_support.h"

using namespace crashreport::codecs;
using namespace codecs_test;

namespace {

void SetModificationTime(const std::string& path, int64_t seconds, long nanoseconds = 0)
{
    timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

std::vector<uint8_t> TarImageOf(const std::string& archive) { return GunzipBytes(ReadFileBytes(archive)); }

// "name size mtime" per entry, from Python's tarfile.
std::string PythonListing(const std::string& archive)
{
    TCommandResult r =
        RunShell("python3 -c 'import sys,tarfile\n"
                 "for m in tarfile.open(sys.argv[1]): print(m.name, m.size, m.mtime, m.type.decode())' " +
                 ShellQuote(archive) + " 2>&1");
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
    return r.Output;
}

} // namespace

TEST(TTGZWriter, OneByteFileIsThreeBlocks)
{
    TempDir dir;
    WriteFileBytes(dir / "one", {'x'});
    TTGZWriter writer(dir / "CompressFiles.tgz");
    writer.AddFile(dir / "one");
    writer.Finish();
    std::vector<uint8_t> tar = TarImageOf(dir / "CompressFiles.tgz");
    ASSERT_EQ(tar.size(), 3 * 512u);
    EXPECT_EQ(tar, writer.TarImage());
    EXPECT_EQ(tar[512], 'x');
    for (size_t i = 513; i < tar.size(); ++i) ASSERT_EQ(tar[i], 0) << i;
}

TEST(TTGZWriter, DataBlocksFollowTheSize)
{
    const std::pair<size_t, size_t> cases[] = {{0, 2}, {511, 3}, {512, 3}, {513, 4}, {1024, 4}, {1025, 5}};
    for (auto [size, blocks] : cases) {
        TempDir dir;
        TTGZWriter writer(dir / "a.tgz");
        std::vector<uint8_t> data = RandomBytes(size, 1);
        crashreport::TByteViewStream source(data.data(), data.size());
        writer.AddStream(source, "entry", kUnixEpochDayCount);
        writer.Finish();
        EXPECT_EQ(TarImageOf(dir / "a.tgz").size(), blocks * 512) << size;
    }
}

TEST(TTGZWriter, GzipHeaderNamesTheTarImage)
{
    TempDir dir;
    TTGZWriter writer(dir / "CompressFiles.tgz");
    writer.Finish();
    std::vector<uint8_t> gz = ReadFileBytes(dir / "CompressFiles.tgz");
    const uint8_t header[10] = {0x1F, 0x8B, 8, 8, 0, 0, 0, 0, 0, 0};
    ASSERT_GT(gz.size(), 28u);
    EXPECT_TRUE(std::equal(header, header + 10, gz.begin()));
    EXPECT_EQ(std::string(gz.begin() + 10, gz.begin() + 28), std::string("CompressFiles.tar\0", 18));
    TCommandResult listed = RunShell("gzip -lN " + ShellQuote(dir / "CompressFiles.tgz"));
    EXPECT_NE(listed.Output.find("CompressFiles.tar"), std::string::npos) << listed.Output;
}

TEST(TTGZWriter, ToolsListAndExtractWhatWasAdded)
{
    TempDir dir;
    const std::string archive = dir / "attach.tgz";
    std::vector<std::vector<uint8_t>> contents;
    TTGZWriter writer(archive);
    int index = 0;
    for (size_t size : PeerSizes()) {
        std::string path = dir / ("src" + std::to_string(index));
        contents.push_back(RandomBytes(size, uint32_t(size) + 9));
        WriteFileBytes(path, contents.back());
        SetModificationTime(path, 1141221909 + index * 3661, 987654321);
        writer.AddFile(path, "file" + std::to_string(index) + ".bin");
        ++index;
    }
    writer.Finish();

    EXPECT_EQ(RunShell("gzip -t " + ShellQuote(archive) + " 2>&1").ExitCode, 0);

    TCommandResult listing = RunShell("TZ=UTC tar --full-time -tzvf " + ShellQuote(archive) + " 2>&1");
    ASSERT_EQ(listing.ExitCode, 0) << listing.Output;
    std::ostringstream expected, expectedPython;
    for (size_t i = 0; i < contents.size(); ++i) {
        int64_t mtime = 1141221909 + int64_t(i) * 3661;
        time_t t = mtime;
        char when[32];
        std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", std::gmtime(&t));
        std::string name = "file" + std::to_string(i) + ".bin";
        // tar's line: mode, owner/group, size, date, time, name.
        expected << contents[i].size() << ' ' << when << ' ' << name << '\n';
        expectedPython << name << ' ' << contents[i].size() << ' ' << mtime << " 0\n";
    }
    std::istringstream lines(listing.Output);
    std::ostringstream actual;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("tar: ", 0) == 0) continue; // warnings are checked below
        std::istringstream fields(line);
        std::string mode, owner, size, date, time, name;
        fields >> mode >> owner >> size >> date >> time >> name;
        EXPECT_EQ(mode, "-rw-r--r--");
        EXPECT_EQ(owner, "0/0");
        actual << size << ' ' << date << ' ' << time << ' ' << name << '\n';
    }
    EXPECT_EQ(actual.str(), expected.str());
    EXPECT_EQ(PythonListing(archive), expectedPython.str());

    const std::string out = dir / "out";
    ASSERT_EQ(::mkdir(out.c_str(), 0700), 0);
    TCommandResult extract = RunShell("tar -xzf " + ShellQuote(archive) + " -C " + ShellQuote(out) + " 2>&1");
    ASSERT_EQ(extract.ExitCode, 0) << extract.Output;
    for (size_t i = 0; i < contents.size(); ++i)
        EXPECT_EQ(ReadFileBytes(out + "/file" + std::to_string(i) + ".bin"), contents[i]) << i;
}

TEST(TTGZWriter, LongNamesAreCutAndStillExtract)
{
    TempDir dir;
    const std::string archive = dir / "long.tgz";
    const std::string longName = std::string(120, 'L') + ".txt";
    const std::string utf8Name = std::string(98, 'u') + "\xE2\x82\xAC" + "-euro.txt"; // a 3-byte character at 98..100
    std::vector<uint8_t> first = RandomBytes(700, 1), second = RandomBytes(300, 2);
    TTGZWriter writer(archive);
    crashreport::TByteViewStream a(first.data(), first.size()), b(second.data(), second.size());
    writer.AddStream(a, longName, kUnixEpochDayCount + 10000);
    writer.AddStream(b, utf8Name, kUnixEpochDayCount + 10000);
    writer.Finish();

    TCommandResult listing = RunShell("tar -tzf " + ShellQuote(archive));
    ASSERT_EQ(listing.ExitCode, 0);
    EXPECT_EQ(listing.Output, std::string(100, 'L') + "\n" + std::string(98, 'u') + "\n");
    const std::string out = dir / "out";
    ASSERT_EQ(::mkdir(out.c_str(), 0700), 0);
    ASSERT_EQ(RunShell("tar -xzf " + ShellQuote(archive) + " -C " + ShellQuote(out)).ExitCode, 0);
    EXPECT_EQ(ReadFileBytes(out + "/" + std::string(100, 'L')), first);
    EXPECT_EQ(ReadFileBytes(out + "/" + std::string(98, 'u')), second);
}

TEST(TTGZWriter, PathsInEntryNamesCannotEscapeOnExtraction)
{
    TempDir dir;
    std::vector<uint8_t> data = {'d'};
    TTGZWriter writer(dir / "a.tgz");
    crashreport::TByteViewStream source(data.data(), data.size());
    writer.AddStream(source, "../../escaped.txt", kUnixEpochDayCount);
    writer.Finish();
    EXPECT_EQ(RunShell("tar -tzf " + ShellQuote(dir / "a.tgz")).Output, "escaped.txt\n");
}

TEST(TTGZWriter, FileDateIsTheLastWriteTimeInUniversalTime)
{
    TempDir dir;
    WriteFileBytes(dir / "dated", {1, 2, 3});
    SetModificationTime(dir / "dated", 1700000000, 500'000'000);
    double date = FileLastWriteDate(dir / "dated");
    EXPECT_EQ(FormatCompactTimestamp(date), "20231114221320");
    EXPECT_EQ(DecodeDayCount(date)->Millisecond, 500);
    EXPECT_EQ(FileLastWriteDate(dir.path()), 0.0);
    EXPECT_EQ(FileLastWriteDate(dir / "missing"), 0.0);
}

TEST(TTGZWriter, UnreadableFilesRaiseAndLeaveTheImageAlone)
{
    TempDir dir;
    WriteFileBytes(dir / "good", {'g'});
    TTGZWriter writer(dir / "a.tgz");
    writer.AddFile(dir / "good");
    const std::vector<uint8_t> before = writer.TarImage();
    EXPECT_THROW(writer.AddFile(dir / "missing"), rtl::EFOpenError);
    EXPECT_THROW(writer.AddFile(dir.path()), rtl::EFOpenError);
    // Neither a FIFO without writer nor an endless device may hang the writer.
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_THROW(writer.AddFile(dir / "fifo"), rtl::EFOpenError);
    EXPECT_THROW(writer.AddFile("/dev/zero"), rtl::EFOpenError);
    EXPECT_THROW(writer.AddFile(dir / "good", "/"), ETarError);
    EXPECT_EQ(writer.TarImage(), before);
    writer.Finish();
    EXPECT_EQ(RunShell("tar -tzf " + ShellQuote(dir / "a.tgz")).Output, "good\n");
}

TEST(TTGZWriter, FailedWriteLeavesNoFileAndFinishIsOnce)
{
    TempDir dir;
    TTGZWriter lost(dir / "no-such-folder/a.tgz");
    EXPECT_THROW(lost.Finish(), EFWriteError);

    {
        TTGZWriter dropped(dir / "dropped.tgz");
        WriteFileBytes(dir / "f", {'f'});
        dropped.AddFile(dir / "f");
    }
    struct stat info {};
    EXPECT_NE(::stat((dir / "dropped.tgz").c_str(), &info), 0);

    TTGZWriter writer(dir / "a.tgz");
    writer.Finish();
    EXPECT_THROW(writer.Finish(), ECodecError);
    EXPECT_THROW(writer.AddFile(dir / "f"), ECodecError);
    // Only the archive is left in the folder: no temporary file stays behind.
    EXPECT_EQ(RunShell("ls " + ShellQuote(dir.path())).Output, "a.tgz\nf\n");
}

TEST(AttachmentArchive, NamesCarryTheExceptionTimeWhenAsked)
{
    double when = 38777.0 + (14 * 3600 + 5 * 60 + 9) / 86400.0; // 2006-03-01 14:05:09
    EXPECT_EQ(AttachmentName("/tmp/Screenshot.png", true, when), "Screenshot_20060301140509.png");
    EXPECT_EQ(AttachmentName("/tmp/Screenshot.png", false, when), "Screenshot.png");
    EXPECT_EQ(AttachmentName("/var/log/app.log.txt", true, when), "app.log_20060301140509.txt");
    EXPECT_EQ(AttachmentName("README", true, when), "README_20060301140509");
    EXPECT_EQ(AttachmentName("/home/u/.profile", true, when), ".profile_20060301140509");
}

TEST(AttachmentArchive, ArchivePathIsInTheTemporaryFolder)
{
    TempDir dir;
    // Puts TMPDIR back however the test ends.
    struct TRestoreTmpdir {
        std::optional<std::string> saved;
        TRestoreTmpdir()
        {
            if (const char* v = std::getenv("TMPDIR")) saved = v;
        }
        ~TRestoreTmpdir()
        {
            if (saved)
                ::setenv("TMPDIR", saved->c_str(), 1);
            else
                ::unsetenv("TMPDIR");
        }
    } restore;
    ::setenv("TMPDIR", "/var/tmp/reports", 1);
    EXPECT_EQ(AttachmentArchivePath(), "/var/tmp/reports/CompressFiles.tgz");
    ::setenv("TMPDIR", "", 1);
    EXPECT_EQ(AttachmentArchivePath(), "/tmp/CompressFiles.tgz");
    ::setenv("TMPDIR", (dir.path() + "/").c_str(), 1);
    EXPECT_EQ(AttachmentArchivePath(), dir / "CompressFiles.tgz");
    WriteFileBytes(dir / "report.txt", {'r'});
    ASSERT_TRUE(WriteAttachmentArchive(AttachmentArchivePath(), {dir / "report.txt"}, false, 0));
    std::vector<uint8_t> gz = ReadFileBytes(dir / "CompressFiles.tgz");
    EXPECT_EQ(std::string(gz.begin() + 10, gz.begin() + 28), std::string("CompressFiles.tar\0", 18));
}

TEST(AttachmentArchive, PacksTheListInOrderUnderAttachmentNames)
{
    TempDir dir;
    const std::string archive = dir / "CompressFiles.tgz";
    EXPECT_FALSE(WriteAttachmentArchive(archive, {}, true, 38777.0));
    struct stat info {};
    EXPECT_NE(::stat(archive.c_str(), &info), 0);

    WriteFileBytes(dir / "Screenshot.png", RandomBytes(2000, 4));
    WriteFileBytes(dir / "report.txt", {'r'});
    double when = 38777.0 + (14 * 3600 + 5 * 60 + 9) / 86400.0;
    ASSERT_TRUE(WriteAttachmentArchive(archive, {dir / "Screenshot.png", dir / "report.txt"}, true, when));
    EXPECT_EQ(RunShell("tar -tzf " + ShellQuote(archive)).Output,
              "Screenshot_20060301140509.png\nreport_20060301140509.txt\n");

    EXPECT_THROW(WriteAttachmentArchive(dir / "other.tgz", {dir / "report.txt", dir / "gone"}, false, when),
                 rtl::EFOpenError);
    EXPECT_NE(::stat((dir / "other.tgz").c_str(), &info), 0);
}

// Unpacked by an ordinary user, an entry must come out readable (tar applies
// the stored mode to files it extracts without root rights).
TEST(TTGZWriter, ExtractedFilesAreReadableWithoutRootRights)
{
    TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
    const std::string archive = dir / "a.tgz";
    std::vector<uint8_t> data = {'r', 'e', 'a', 'd'};
    TTGZWriter writer(archive);
    crashreport::TByteViewStream source(data.data(), data.size());
    writer.AddStream(source, "report.txt", kUnixEpochDayCount + 20000);
    writer.Finish();
    ASSERT_EQ(::chmod(archive.c_str(), 0644), 0);
    std::string asUser = "sh -c " + ShellQuote("cd " + ShellQuote(dir.path()) + " && tar -xzf a.tgz && cat report.txt");
    if (::geteuid() == 0) {
        if (RunShell("command -v runuser >/dev/null").ExitCode != 0) GTEST_SKIP() << "runuser not available";
        asUser = "runuser -u nobody -- " + asUser;
    }
    TCommandResult r = RunShell(asUser + " 2>/dev/null");
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.Output, "read");
}

TEST(TTGZWriter, StreamEntriesStartAtTheStreamsPosition)
{
    TempDir dir;
    crashreport::TMemoryStream source("skipped|kept bytes");
    source.SetPosition(8);
    TTGZWriter writer(dir / "s.tgz");
    writer.AddStream(source, "part.txt", kUnixEpochDayCount + 1);
    writer.Finish();
    const std::string out = dir / "out";
    ASSERT_EQ(::mkdir(out.c_str(), 0700), 0);
    ASSERT_EQ(RunShell("tar -xzf " + ShellQuote(dir / "s.tgz") + " -C " + ShellQuote(out) + " 2>/dev/null").ExitCode,
              0);
    std::vector<uint8_t> kept = ReadFileBytes(out + "/part.txt");
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "kept bytes");
}
