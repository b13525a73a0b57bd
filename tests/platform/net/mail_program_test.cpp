// Running the mail program hand-off: a program that is not there, one that
// fails, and one that keeps running past the wait.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "platform/net/mail_program.h"
#include "tests/support/temp_dir.h"

namespace {

std::string Script(const testing_support::TempDir& dir, const std::string& name, const std::string& body)
{
    const std::string path = dir / name;
    testing_support::WriteFile(path, "#!/bin/sh\n" + body);
    ::chmod(path.c_str(), 0755);
    return path;
}

TEST(MailProgram, MissingProgramDoesNotStartAndSaysWhy)
{
    const net::TProgramRun run = net::RunProgram("no-such-mail-program-here", {}, 1000);
    EXPECT_FALSE(run.Started);
    EXPECT_EQ(run.Error, "No such file or directory");
    EXPECT_FALSE(net::ProgramOnPath("no-such-mail-program-here"));
}

TEST(MailProgram, ArgumentsArriveUntouchedAndTheExitCodeIsRead)
{
    testing_support::TempDir dir;
    const std::string program = Script(
        dir, "tool", "for a in \"$@\"; do printf '%s\\n--\\n' \"$a\" >> \"" + dir.path() + "/args\"; done\nexit 4\n");
    const net::TProgramRun run = net::RunProgram(program, {"one two", "$(touch x)", "a;b"}, 10000);
    EXPECT_TRUE(run.Started);
    EXPECT_TRUE(run.Ended);
    EXPECT_EQ(run.ExitCode, 4);
    EXPECT_EQ(testing_support::ReadFile(dir / "args"), "one two\n--\n$(touch x)\n--\na;b\n--\n");
}

TEST(MailProgram, ProgramStillRunningAfterTheWaitIsLeftToRun)
{
    testing_support::TempDir dir;
    const std::string program = Script(dir, "slow", "sleep 2\ntouch \"" + dir.path() + "/done\"\n");
    const net::TProgramRun run = net::RunProgram(program, {}, 100);
    EXPECT_TRUE(run.Started);
    EXPECT_FALSE(run.Ended);
    // It was not ended: it finishes its work.
    for (int i = 0; i < 100 && !testing_support::FileExists(dir / "done"); ++i) ::usleep(100000);
    EXPECT_TRUE(testing_support::FileExists(dir / "done"));
}

} // namespace
