// Whole-file writing: the previous file survives every failure, what
// replaces it keeps its permissions, and a new file is its owner's only.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "crashreport/codecs/codec_error.h"
#include "crashreport/codecs/file_io.h"
#include "test_support.h"

using namespace crashreport::codecs;
using namespace codecs_test;

namespace {

unsigned ModeOf(const std::string& path)
{
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

} // namespace

TEST(WriteFileReplacing, NewFilesAreOwnerOnlyWhateverTheMaskAndReplacedOnesKeepTheirs)
{
    TempDir dir;
    for (const mode_t mask : {0000, 0022, 0277}) {
        const std::string fresh = dir / ("fresh" + std::to_string(mask) + ".txt");
        const mode_t previous = ::umask(mask);
        WriteFileReplacing(fresh, std::string_view("new"));
        ::umask(previous);
        EXPECT_EQ(ModeOf(fresh), 0600u) << "mask " << std::oct << mask;
    }

    const std::string kept = dir / "kept.txt";
    WriteFileBytes(kept, {'o', 'l', 'd'});
    ASSERT_EQ(::chmod(kept.c_str(), 0640), 0);
    WriteFileReplacing(kept, std::string_view("replaced"));
    EXPECT_EQ(ModeOf(kept), 0640u);
    EXPECT_EQ(ReadFileBytes(kept), (std::vector<uint8_t>{'r', 'e', 'p', 'l', 'a', 'c', 'e', 'd'}));
}

TEST(WriteFileReplacing, ThePreviousFileCanKeepASecondName)
{
    TempDir dir;
    const std::string path = dir / "log.txt", aside = dir / "log.txt.old";
    WriteFileBytes(path, {'1'});
    const std::string previous = aside;
    WriteFileReplacing(path, std::string_view("2"), &previous);
    EXPECT_EQ(ReadFileBytes(path), std::vector<uint8_t>{'2'});
    EXPECT_EQ(ReadFileBytes(aside), std::vector<uint8_t>{'1'});
    // Nothing to keep when there was no file.
    const std::string none = dir / "none.old";
    WriteFileReplacing(dir / "first.txt", std::string_view("x"), &none);
    EXPECT_FALSE(std::filesystem::exists(none));
}

TEST(WriteFileReplacing, AFullDiskLeavesThePreviousFileWholeAndNoTemporaryFile)
{
    TempDir dir;
    const std::string path = dir / "report.png";
    const std::vector<uint8_t> before = RandomBytes(1000, 7);
    WriteFileBytes(path, before);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A file size limit stands in for a full disk.
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        try {
            WriteFileReplacing(path, RandomBytes(100000, 8));
        } catch (const EFWriteError& e) {
            ::_exit(std::string(e.what()).find("Cannot write file") == 0 ? 0 : 4);
        }
        ::_exit(3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadFileBytes(path), before);
    EXPECT_EQ(testing_support::ListDir(dir.path()), std::vector<std::string>{"report.png"});
}

TEST(WriteFileReplacing, AFolderAtThePathIsRefused)
{
    TempDir dir;
    EXPECT_THROW(WriteFileReplacing(dir.path(), std::string_view("x")), EFWriteError);
    EXPECT_THROW(WriteFileReplacing(dir / "sub/", std::string_view("x")), EFWriteError);
}

// A write removes what an interrupted earlier write left beside the file:
// old, unlocked "NAME.xxxxxx" files, and nothing else.
TEST(WriteFileReplacing, LeftoversOfInterruptedWritesAreRemoved)
{
    TempDir dir;
    const std::string target = dir.path() + "/app.tlf";
    struct Entry {
        const char* suffix;
        bool old, locked, removed;
    };
    const Entry entries[] = {
        {".a1B2c3", true, false, true},   // abandoned
        {".Zz9yX8", false, false, false}, // written a moment ago: maybe a writer between close and rename
        {".q7W6e5", true, true, false},   // a writer holds it
        {".bak", true, false, false},     // not a temporary name
        {".a1B2c3d", true, false, false}, // nor this
    };
    std::vector<int> locks;
    for (const Entry& e : entries) {
        const std::string path = target + e.suffix;
        WriteFileBytes(path, {'p', 'a', 'r', 't'});
        if (e.old) {
            const timespec times[2] = {{0, UTIME_OMIT}, {::time(nullptr) - 3600, 0}};
            ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        }
        if (e.locked) {
            locks.push_back(::open(path.c_str(), O_RDONLY));
            ASSERT_EQ(::flock(locks.back(), LOCK_EX), 0);
        }
    }
    WriteFileReplacing(target, std::string_view("report"));
    for (const Entry& e : entries) EXPECT_EQ(!std::filesystem::exists(target + e.suffix), e.removed) << e.suffix;
    EXPECT_EQ(ReadFileBytes(target), (std::vector<uint8_t>{'r', 'e', 'p', 'o', 'r', 't'}));
    for (int fd : locks) ::close(fd);
}
