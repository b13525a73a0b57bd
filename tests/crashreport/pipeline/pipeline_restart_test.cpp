// Restart: the reporter of a failing program starts the same program again
// (posix_spawn of the program with its arguments, in its start-up
// directory) and the failing process ends with exit code 1.
#include <gtest/gtest.h>

#include "platform/kernel/files.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace {

TEST(PipelineRestart, TheSameProgramStartsAgainWithItsArgumentsInItsStartupDirectory)
{
    testing_support::TempDir dir;
    testing_support::TempDir startDir;
    const auto r = vektest::RunInChild([&] {
        if (chdir(startDir.path().c_str()) != 0) return 7;
        execl(VEK_RESTART_PROGRAM, VEK_RESTART_PROGRAM, dir.path().c_str(), "two words", "", "last", nullptr);
        return 8;
    });
    EXPECT_TRUE(r.Exited && r.ExitCode == 1) << r.Output;
    EXPECT_NE(r.Output.find("2.5 Message: restart me."), std::string::npos) << r.Output;
    // The new process runs on its own; wait for what it writes.
    for (int i = 0; i < 400 && !kernel::FileExists(dir / "restarted"); ++i) usleep(50000);
    std::ifstream in(dir / "restarted");
    std::stringstream s;
    s << in.rdbuf();
    char real[4096];
    ASSERT_NE(realpath(startDir.path().c_str(), real), nullptr);
    EXPECT_EQ(s.str(), "cwd=" + std::string(real) + "\narg=" + dir.path() + "\narg=two words\narg=\narg=last\n");
}

} // namespace
