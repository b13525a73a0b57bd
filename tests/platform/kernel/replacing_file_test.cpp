// The write-to-temporary-then-rename owner: the destination only ever holds
// a complete file, and a file that is not committed leaves nothing behind.
#include "platform/kernel/replacing_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "tests/support/temp_dir.h"

using kernel::TReplacingFile;
using namespace testing_support;

TEST(ReplacingFile, CommitReplacesDiscardAndEndLeaveTheOldFile)
{
    TempDir dir;
    const std::string target = dir / "out.bin";
    enum class End { Commit, Discard, OwnerGone };
    for (End end : {End::Discard, End::OwnerGone, End::Commit}) {
        WriteFile(target, "old");
        {
            TReplacingFile file;
            ASSERT_EQ(file.Create(target, 0600), 0);
            EXPECT_EQ(file.TemporaryPath().rfind(target + ".", 0), 0u);
            EXPECT_EQ(file.TemporaryPath().substr(file.TemporaryPath().size() - 5), ".part");
            ASSERT_EQ(::write(file.Fd(), "new", 3), 3);
            EXPECT_EQ(ReadFile(target), "old");
            struct stat st {};
            ASSERT_EQ(::fstat(file.Fd(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0600u); // the creation mode asked for
            if (end == End::Commit) {
                EXPECT_EQ(file.Commit(), 0);
            }
            if (end == End::Discard) file.Discard();
        }
        EXPECT_EQ(ReadFile(target), end == End::Commit ? "new" : "old");
        EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"out.bin"});
    }
}

TEST(ReplacingFile, CreationFailuresGiveTheirErrorNumbers)
{
    TempDir dir;
    TReplacingFile file;
    EXPECT_EQ(file.Create(dir / "missing/out.bin", 0666), ENOENT);
    EXPECT_EQ(file.Create(dir / std::string(300, 'n'), 0666), ENAMETOOLONG);
    EXPECT_EQ(file.Create(dir.path() + "/", 0666), EISDIR);
    EXPECT_FALSE(file.Active());
    // A temporary name taken over by another file is not removed.
    ASSERT_EQ(file.Create(dir / "x", 0666), 0);
    const std::string temporary = file.TemporaryPath();
    ASSERT_EQ(::unlink(temporary.c_str()), 0);
    WriteFile(temporary, "someone else's");
    file.Discard();
    EXPECT_EQ(ReadFile(temporary), "someone else's");
}
