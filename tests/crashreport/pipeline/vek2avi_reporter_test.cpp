// The command-line converter carries the reporter: the errors it expects
// keep their one-line messages and no report; a fault that escapes it is
// reported on standard output (console mode) and kept in the log, its
// partial output is removed, and it ends with exit code 1.
#include <gtest/gtest.h>

#include "tests/support/run_command.h"

#include "crashreport/report/log_file.h"
#include "platform/kernel/files.h"
#include "tests/support/temp_dir.h"

#include <sys/wait.h>

#include <fstream>
#include <string>

namespace {

using TRun = testing_support::TCommandResult;

TRun Shell(const std::string& command) { return testing_support::RunShell(command + " 2>&1"); }

class Vek2aviReporter : public ::testing::Test {
protected:
    Vek2aviReporter()
    {
        // The log goes beside the program unless that folder cannot be
        // written; HOME points the fallback into the test folder.
        env_ = "HOME=" + dir_.path() + " TMPDIR=" + dir_.path() + " ";
        EXPECT_EQ(Shell(env_ + VEK2AVI + std::string(" --sample ") + (dir_ / "in.vek") + " --frames 20").ExitCode, 0);
        log_ = std::string(VEK2AVI) + ".tlf";
        kernel::DeleteFile(log_);
    }
    ~Vek2aviReporter() override { kernel::DeleteFile(log_); }

    int StoredReports() const
    {
        return kernel::FileExists(log_) ? crashreport::TLogFile(log_, true).Count() : 0;
    }

    testing_support::TempDir dir_;
    std::string env_;
    std::string log_;
};

TEST_F(Vek2aviReporter, ExpectedErrorsKeepTheirOneLineMessageAndMakeNoReport)
{
    std::ofstream(dir_ / "bad.vek") << "garbage";
    const TRun run = Shell(env_ + VEK2AVI + " " + (dir_ / "bad.vek") + " " + (dir_ / "out.avi"));
    EXPECT_EQ(run.ExitCode, 1) << run.Output;
    EXPECT_NE(run.Output.find("vek2avi: Cannot convert"), std::string::npos) << run.Output;
    EXPECT_EQ(run.Output.find("TavrelLog 5.1.5"), std::string::npos) << run.Output;
    EXPECT_FALSE(kernel::FileExists(dir_ / "out.avi"));
    EXPECT_EQ(StoredReports(), 0);
}

TEST_F(Vek2aviReporter, AFaultIsReportedOnStandardOutputAndInTheLogAndThePartialOutputIsRemoved)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer's runtime must come first: no library can be preloaded before it";
#endif
    const TRun run = Shell(env_ + "VEK_FAULT_AFTER=20000 LD_PRELOAD=" + VEK_FAULT_SHIM + " " + VEK2AVI + " " +
                           (dir_ / "in.vek") + " " + (dir_ / "out.avi"));
    EXPECT_EQ(run.ExitCode, 1) << run.Output;
    EXPECT_NE(run.Output.find("TavrelLog 5.1.5"), std::string::npos) << run.Output;
    EXPECT_NE(run.Output.find("2.4 Type   : EAccessViolation"), std::string::npos) << run.Output;
    EXPECT_NE(run.Output.find("Write of address 0000000000000030"), std::string::npos) << run.Output;
    // Reported where the fault happened, not where the converter threw it on.
    EXPECT_NE(run.Output.find("2.3 Module : libvek_fault_shim.so"), std::string::npos) << run.Output;
    EXPECT_EQ(run.Output.find("vek2avi: Access violation"), std::string::npos) << run.Output; // no one-liner
    EXPECT_FALSE(kernel::FileExists(dir_ / "out.avi"));
    EXPECT_EQ(StoredReports(), 1);
}

} // namespace
