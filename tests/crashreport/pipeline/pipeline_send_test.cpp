// The sending of a report end to end: the reporter of a child process sends
// through the loopback SMTP server (aiosmtpd), in the background while the
// program goes on; a second exception waits for the first delivery; the
// packed attachments unpack with the real tar and hold the report. Also the
// failure copy and its pruning, and the clean-up of the temporary files.
#include <gtest/gtest.h>

#include "crashreport/binding/events.h"
#include "crashreport/capture/exception_capture.h"
#include "crashreport/pipeline/send_report.h"
#include "tests/support/peer_process.h"
#include "tests/support/run_command.h"
#include "pipeline_test_support.h"
#include "platform/kernel/files.h"
#include "platform/kernel/folder_files.h"
#include "platform/rtl/exception.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

using namespace crashreport;
using net_testing::kPython;
using net_testing::PeerScript;
using net_testing::TPeerProcess;
using pipelinetest::Occurrences;
using pipelinetest::StartReporter;
using pipelinetest::StoredReports;
using vektest::RunInChild;

namespace {

std::atomic<bool> g_release{false};

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Shell(const std::string& command) { return testing_support::RunCommand(command); }

void ReportText(const char* text)
{
    try {
        throw rtl::Exception(text);
    } catch (const rtl::Exception& e) {
        ExceptionManager(const_cast<rtl::Exception*>(&e), &typeid(e), reinterpret_cast<void*>(&ReportText),
                         rkApplication, 0);
    }
}

void SmtpOptions(TTavrelModuleOptions& o, std::uint16_t port)
{
    o.SetMailMethod(mmSmtpClient);
    o.SetSmtpServer("127.0.0.1");
    o.SetSmtpServerPort(port);
    o.SetSmtpSender("converter@vek.invalid");
    o.SetMailRecipients("dev@vek.invalid");
    o.SetMailSubject("Converter report");
    o.SetMailBody("The converter stopped.");
}

class PipelineSend : public ::testing::Test {
protected:
    testing_support::TempDir dir_;
    testing_support::TempDir store_;
};

TEST_F(PipelineSend, BackgroundSendingGoesOnWhileTheProgramRunsAndTheNextReportWaitsForIt)
{
    TPeerProcess peer(kPython, {PeerScript("smtp_peer.py"), "store", store_.path()});
    ASSERT_NE(peer.Port(), 0) << peer.Output();
    const std::uint16_t port = peer.Port();
    const auto r = RunInChild(
        [&] {
            if (!StartReporter(dir_.path(), [&](auto& o) {
                    SmtpOptions(o, port);
                    o.SetSendFlags({sfSendInBackground, sfCompressAttachments, sfAttachXmlCopy});
                }))
                return 9;
            // Before the e-mail of the first report, the delivery waits until
            // the program has gone on; it holds the capture lock meanwhile.
            GlobalEventHandlers().OnExceptionActionNotify = [](void*, const TTavrelExceptionRecord&, int action,
                                                               int*) {
                if (action == 4 && !g_release) {
                    std::printf("MAIL-START\n");
                    std::fflush(stdout);
                    // The temporary files' folder is the process's own.
                    const std::string tmp = std::getenv("TMPDIR");
                    if (std::system(("stat -c 'MODE %a' " + tmp + "/TavrelLog.*").c_str()) != 0) std::printf("NO FOLDER\n");
                    while (!g_release) usleep(1000);
                }
                if (action == 5) std::printf("MAIL-DONE\n");
                std::fflush(stdout);
            };
            ReportText("first");
            std::printf("program goes on\n");
            std::fflush(stdout);
            std::thread second([] { ReportText("second"); });
            usleep(300000);
            std::printf("releasing\n");
            std::fflush(stdout);
            g_release = true;
            second.join();
            WaitForBackgroundSends();
            return 0;
        },
        60);
    ASSERT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    const auto at = [&](const std::string& s) { return r.Output.find(s); };
    ASSERT_NE(at("program goes on"), std::string::npos) << r.Output;
    ASSERT_NE(at("2.5 Message: second."), std::string::npos) << r.Output;
    EXPECT_LT(at("releasing"), at("MAIL-DONE")) << r.Output;
    EXPECT_NE(at("MODE 700"), std::string::npos) << r.Output;
    EXPECT_LT(at("MAIL-DONE"), at("2.5 Message: second.")) << r.Output; // the second report waited
    EXPECT_EQ(StoredReports(dir_.path()), 2);

    // The first mail: one packed attachment that the real tar unpacks.
    const std::string message = store_ / "1";
    ASSERT_TRUE(kernel::FileExists(message + "/attachments/CompressFiles.tgz")) << Shell("ls -R " + store_.path());
    EXPECT_EQ(Slurp(message + "/subject"), "Converter report");
    testing_support::TempDir unpacked;
    const std::string listing = Shell("tar -xzvf " + message + "/attachments/CompressFiles.tgz -C " + unpacked.path());
    EXPECT_TRUE(Has(listing, "report.tlf")) << listing;
    EXPECT_TRUE(Has(listing, "report.xml")) << listing;
    EXPECT_TRUE(Has(Slurp(unpacked / "report.tlf"), "2.5 Message: first.")) << Slurp(unpacked / "report.tlf");
    EXPECT_TRUE(Has(Slurp(unpacked / "report.xml"), "Value=\"first.\"")) << Slurp(unpacked / "report.xml");
    EXPECT_TRUE(kernel::FileExists(store_ / "2/attachments/CompressFiles.tgz"));

    // Nothing of the deliveries is left in the temporary folder.
    for (const auto& name : kernel::ListFolderFiles(dir_.path()))
        EXPECT_TRUE(name == "report.tlf" || name == "report.tlf.lock") << name;
    EXPECT_EQ(Shell("ls -A " + dir_.path() + " | grep -c TavrelLog"), "0\n");
}

TEST_F(PipelineSend, AFailedDeliveryKeepsACompressedCopyBesideTheLogAndShowsTheResult)
{
    const std::uint16_t port = net_testing::UnusedTcpPort();
    const auto r = RunInChild([&] {
        pipelinetest::UseRecordingDesktop();
        if (!StartReporter(dir_.path(), [&](auto& o) {
                SmtpOptions(o, port);
                o.SetDialogFlags({});
                o.SetSendFlags({sfTimestampFileNames, sfShowResultMessage});
                o.SetBehaviourFlags({bhStoreFailedReports});
            }))
            return 9;
        ReportText("not delivered");
        return 0;
    });
    EXPECT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    EXPECT_TRUE(Has(r.Output, "BOX Information.: Sorry, sending the message didn't work.")) << r.Output;
    std::string copy;
    for (const auto& name : kernel::ListFolderFiles(dir_.path()))
        if (name.rfind("CompressFiles_", 0) == 0) copy = name;
    ASSERT_FALSE(copy.empty()) << Shell("ls -A " + dir_.path());
    const std::string listing = Shell("tar -tzf " + (dir_ / copy));
    EXPECT_TRUE(Has(listing, "report_")) << listing; // the log copy, time-stamped
}

TEST(SendSequence, FailureCopiesArePrunedToTheTenGreatestNames)
{
    testing_support::TempDir dir;
    for (int i = 1; i <= 13; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "CompressFiles_202612080000%02d.tgz", i);
        std::ofstream(dir / name) << "x";
    }
    std::ofstream(dir / "other.txt") << "x";
    const auto deleted = PruneFailureCopies(dir.path());
    ASSERT_EQ(deleted.size(), 3u);
    EXPECT_EQ(deleted[0], "CompressFiles_20261208000001.tgz");
    EXPECT_EQ(deleted[2], "CompressFiles_20261208000003.tgz");
    EXPECT_EQ(kernel::ListFolderFiles(dir.path()).size(), 11u);
}

TEST(SendSequence, ExtraFilesAreSplitAtSemicolonsAndTrimmed)
{
    EXPECT_EQ(SplitExtraFiles(" /a.txt ; ;/b c.log;"), (std::vector<std::string>{"/a.txt", "/b c.log"}));
    EXPECT_TRUE(SplitExtraFiles("").empty());
}

} // namespace
