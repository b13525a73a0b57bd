// The state file: defaults for anything missing or damaged, writes that
// keep the rest of the file and replace it in one step, private modes.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "crashreport/ui/state_file.h"
#include "tests/support/temp_dir.h"

namespace {

using crashreport::ui::TStateFile;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

TEST(StateFile, LivesInTheConfigFolder)
{
    TempDir dir;
    ::setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
    EXPECT_EQ(crashreport::ui::DefaultStateFilePath(), dir / "TavrelLog.ini");
    ::setenv("XDG_CONFIG_HOME", "relative/path", 1);
    EXPECT_NE(crashreport::ui::DefaultStateFilePath().find("/.config/TavrelLog.ini"), std::string::npos);
}

TEST(StateFile, MissingDamagedAndForeignValuesGiveTheDefaults)
{
    TempDir dir;
    TStateFile state(dir / "TavrelLog.ini");
    EXPECT_EQ(state.ReadInteger("Width", 745), 745);
    WriteFile(state.Path(),
              "[Other]\nWidth=1\n[Coordinates]\nWidth=abc\nHeight= 300 \nLeft=99999999999\nTop=-20\n"
              "Col0=\nCol1=12x\n[coordinates]\nCol2=5\n");
    EXPECT_EQ(state.ReadInteger("Width", 745), 745);
    EXPECT_EQ(state.ReadInteger("Height", 468), 300);
    EXPECT_EQ(state.ReadInteger("Left", 7), 7);
    EXPECT_EQ(state.ReadInteger("Top", 7), -20);
    EXPECT_EQ(state.ReadInteger("Col0", 89), 89);
    EXPECT_EQ(state.ReadInteger("Col1", 92), 92);
    EXPECT_EQ(state.ReadInteger("Col2", 126), 5) << "section names ignore case";
    WriteFile(state.Path(), std::string(100000, 'x'));
    EXPECT_EQ(state.ReadInteger("Width", 745), 745);
    ::mkdir((dir / "folder.ini").c_str(), 0700);
    EXPECT_EQ(TStateFile(dir / "folder.ini").ReadInteger("Width", 745), 745);
}

TEST(StateFile, WritingKeepsOtherSectionsAndKeys)
{
    TempDir dir;
    TStateFile state(dir / "TavrelLog.ini");
    WriteFile(state.Path(), "; comment\n[Other]\nWidth=1\n[Coordinates]\nCol0=50\nWidth=10\n");
    ASSERT_TRUE(state.WriteIntegers({{"Width", 800}, {"Top", 5}}));
    const std::string text = ReadFile(state.Path());
    EXPECT_EQ(text, "; comment\n[Other]\nWidth=1\n[Coordinates]\nCol0=50\nWidth=800\nTop=5\n");
    EXPECT_EQ(testing_support::ListDir(dir.path()), std::vector<std::string>{"TavrelLog.ini"}) << "no temporary left";
    TStateFile fresh(dir / "sub/TavrelLog.ini");
    ASSERT_TRUE(fresh.WriteIntegers({{"Col0", 1}}));
    EXPECT_EQ(ReadFile(fresh.Path()), "[Coordinates]\nCol0=1\n");
}

TEST(StateFile, ANewFileAndItsFolderAreOwnerOnlyAndAnExistingFileKeepsItsMode)
{
    TempDir dir;
    const mode_t previous = ::umask(0);
    TStateFile fresh(dir / "config/TavrelLog.ini");
    const bool written = fresh.WriteIntegers({{"Width", 800}});
    WriteFile(dir / "shared.ini", "[Coordinates]\n");
    ::chmod((dir / "shared.ini").c_str(), 0644);
    TStateFile shared(dir / "shared.ini");
    const bool rewritten = shared.WriteIntegers({{"Width", 700}});
    ::umask(previous);
    ASSERT_TRUE(written && rewritten);
    struct stat file {};
    struct stat folder {};
    struct stat kept {};
    ASSERT_EQ(::stat(fresh.Path().c_str(), &file), 0);
    ASSERT_EQ(::stat((dir / "config").c_str(), &folder), 0);
    ASSERT_EQ(::stat(shared.Path().c_str(), &kept), 0);
    EXPECT_EQ(file.st_mode & 07777, 0600u);
    EXPECT_EQ(folder.st_mode & 07777, 0700u);
    EXPECT_EQ(kept.st_mode & 07777, 0644u);
}

} // namespace
