// The desktop entry and the MIME type as desktop tools read them: the MIME
// package is compiled by the real update-mime-database.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "tests/support/run_command.h"
#include "tests/support/temp_dir.h"

using namespace testing_support;

namespace {
std::map<std::string, std::string> DesktopEntry(const std::string& path)
{
    std::map<std::string, std::string> keys;
    std::istringstream in(ReadFile(path));
    std::string line, group;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') {
            group = line;
            continue;
        }
        const size_t eq = line.find('=');
        if (group == "[Desktop Entry]" && eq != std::string::npos) keys[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return keys;
}
} // namespace

TEST(Packaging, DesktopEntryOpensVekFilesWithTheProgram)
{
    auto keys = DesktopEntry(VEK_SOURCE_DIR "/packaging/vek2avi-gui.desktop");
    EXPECT_EQ(keys["Type"], "Application");
    EXPECT_EQ(keys["Name"], "Vek to avi Converter");
    EXPECT_EQ(keys["Exec"], "vek2avi-gui %f");
    EXPECT_EQ(keys["MimeType"], "application/x-vek;");
    EXPECT_EQ(keys["Terminal"], "false");
}

TEST(Packaging, MimePackageGivesVekFilesTheirType)
{
    int status = 0;
    RunCommand("command -v update-mime-database >/dev/null", &status);
    if (status != 0) GTEST_SKIP() << "update-mime-database is not installed";
    TempDir dir;
    std::filesystem::create_directories(dir / "mime/packages");
    std::filesystem::copy_file(VEK_SOURCE_DIR "/packaging/vek2avi-mime.xml", dir / "mime/packages/vek2avi-mime.xml");
    RunCommand("update-mime-database " + ShellQuote(dir / "mime") + " 2>&1", &status);
    ASSERT_EQ(status, 0);
    EXPECT_NE(ReadFile(dir / "mime/globs2").find("application/x-vek:*.vek"), std::string::npos);
    EXPECT_TRUE(FileExists(dir / "mime/application/x-vek.xml"));
}
