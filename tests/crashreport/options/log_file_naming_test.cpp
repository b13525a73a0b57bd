// Log file naming and the writable-folder fallback.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "crashreport/options/log_file_naming.h"
#include "crashreport/options/module_identity.h"
#include "crashreport/options/module_options.h"

using namespace crashreport;
namespace fs = std::filesystem;

TEST(LogFileNaming, FolderComesFromLogPathOrTheModule)
{
    TTavrelModuleOptions o("/Work/Tool.exe", false);
    EXPECT_EQ(o.LogFileName(), "/Work/Tool.tlf");
    o.SetLogPath("/Logs");
    EXPECT_EQ(o.LogFileName(), "/Logs/Tool.tlf");
    o.SetLogPath("/Logs/");
    EXPECT_EQ(o.LogFileName(), "/Logs/Tool.tlf");
    o.SetLogPath("/Logs/all.tlf");
    EXPECT_EQ(o.LogFileName(), "/Logs/all.tlf");
    o.SetLogPath("/Logs/ALL.TLF");
    EXPECT_EQ(o.LogFileName("/other/Thing"), "/Logs/ALL.TLF");
    o.SetLogPath("");
    EXPECT_EQ(o.LogFileName("/usr/lib/libplugin.so"), "/usr/lib/libplugin.tlf");
    EXPECT_EQ(o.LogFileName("/opt/v1.2/tool"), "/opt/v1.2/tool.tlf");
    EXPECT_EQ(o.LogFileName("Tool.exe"), "/Tool.tlf"); // no folder: the root folder
    EXPECT_EQ(o.LogFilePath("/a/b/c.tlf"), "/a/b/c.tlf");
}

TEST(LogFileNaming, ComputerNameGoesBeforeTheExtension)
{
    TTavrelModuleOptions o("/Work/Tool.exe", false);
    o.SetLogFlags(o.LogFlags() + TLogFlags{lgComputerNameInFileName});
    EXPECT_EQ(o.LogFileNameFor("", "A:B"), "/Work/Tool_A_B.tlf");
    EXPECT_EQ(o.LogFileNameFor("", "HOST"), "/Work/Tool_HOST.tlf");
    o.SetLogPath("/Logs/all.tlf");
    EXPECT_EQ(o.LogFileNameFor("", "HOST"), "/Logs/all_HOST.tlf");

    char host[256] = {};
    ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
    o.SetLogPath("");
    EXPECT_EQ(o.LogFileName(), "/Work/Tool_" + ComputerNameForFileName(host) + ".tlf");
}

TEST(LogFileNaming, ComputerNameIsCutAndCleaned)
{
    EXPECT_EQ(ComputerNameForFileName("a\"b*c/d:e<f>g?h\\i|j"), "a_b_c_d_e_f_g_h");
    EXPECT_EQ(ComputerNameForFileName("build-server-0123456789"), "build-server-01");
    EXPECT_EQ(ComputerNameForFileName("A:B"), "A_B");
    EXPECT_EQ(ComputerNameForFileName(""), "");
}

class FindWritableLogFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/options-log-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        const char* home = std::getenv("HOME");
        hadHome_ = home != nullptr;
        oldHome_ = hadHome_ ? home : "";
        setenv("HOME", (root_ / "home").c_str(), 1);
        fs::create_directory(root_ / "home");
    }
    void TearDown() override
    {
        if (hadHome_)
            setenv("HOME", oldHome_.c_str(), 1);
        else
            unsetenv("HOME");
        fs::remove_all(root_);
    }

    fs::path root_;
    bool hadHome_ = false;
    std::string oldHome_;
};

TEST_F(FindWritableLogFileTest, AUsablePathStaysAndLeavesNoFileBehind)
{
    std::string path = (root_ / "app.tlf").string();
    EXPECT_TRUE(FindWritableLogFile(path, false, false));
    EXPECT_EQ(path, (root_ / "app.tlf").string());
    EXPECT_FALSE(fs::exists(path)) << "the test file was not deleted";

    std::ofstream(path) << "kept";
    EXPECT_TRUE(FindWritableLogFile(path, false, true));
    EXPECT_TRUE(fs::exists(path));
}

TEST_F(FindWritableLogFileTest, AnUnusableFolderFallsBackToTheProfile)
{
    std::string path = "/proc/no-such-folder/app.tlf";
    ASSERT_TRUE(FindWritableLogFile(path, false, false));
    EXPECT_EQ(path, (root_ / "home" / "TavrelLog" / "app.tlf").string());
    EXPECT_TRUE(fs::is_directory(root_ / "home" / "TavrelLog"));

    std::string withProgram = "/proc/no-such-folder/app.tlf";
    ASSERT_TRUE(FindWritableLogFile(withProgram, true, false));
    const std::string program = fs::path(ProgramFileName()).stem().string();
    EXPECT_EQ(withProgram, (root_ / "home" / "TavrelLog" / program / "app.tlf").string());
}

TEST_F(FindWritableLogFileTest, ReadOnlyNeedsAnExistingFile)
{
    std::string path = (root_ / "missing.tlf").string();
    EXPECT_FALSE(FindWritableLogFile(path, false, true));
    EXPECT_EQ(path, (root_ / "missing.tlf").string());

    fs::create_directories(root_ / "home" / "TavrelLog");
    std::ofstream(root_ / "home" / "TavrelLog" / "missing.tlf") << "x";
    EXPECT_TRUE(FindWritableLogFile(path, false, true));
    EXPECT_EQ(path, (root_ / "home" / "TavrelLog" / "missing.tlf").string());
}

TEST_F(FindWritableLogFileTest, AProfileThatIsAFileFails)
{
    std::ofstream(root_ / "plain") << "not a folder";
    setenv("HOME", (root_ / "plain").c_str(), 1);
    std::string path = "/proc/no-such-folder/app.tlf";
    EXPECT_FALSE(FindWritableLogFile(path, false, false));
    EXPECT_EQ(path, "/proc/no-such-folder/app.tlf");
}
