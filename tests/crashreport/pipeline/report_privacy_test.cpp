// A report of a program whose focused control is a password edit, saved,
// mailed to the loopback SMTP server and, since the web upload fails, kept
// as a failure copy: the password appears nowhere (log, XML, mail, failure
// copy), the dialog shows the mask, and every file and folder the report
// leaves behind is its owner's alone, also under the creation mask 000:
// modes 0600 and 0700, and a second account (nobody, when the suite runs
// as root) can read none of them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>

#include "crashreport/capture/exception_capture.h"
#include "crashreport/capture/waiting_pump.h"
#include "crashreport/report/report_dialogs.h"
#include "pipeline_test_support.h"
#include "platform/kernel/modules.h"
#include "platform/rtl/exception.h"
#include "platform/ui/backend.h"
#include "platform/ui/edit.h"
#include "platform/ui/form.h"
#include "platform/ui/message_queue.h"
#include "tests/support/child_process.h"
#include "tests/support/peer_process.h"
#include "tests/support/run_command.h"
#include "tests/support/temp_dir.h"

using namespace crashreport;
namespace fs = std::filesystem;

namespace {

constexpr const char* kSecret = "Zq7-hunter2-PW";
const std::string kMask(14, '*');

// The exception dialog as the user sees it: its General page shows the
// report's general part; the line of the focused control is printed.
bool ShowGeneralPage(TDialogReport& report, TReportChoices& choices)
{
    const std::string& general = report.Report->GeneralPart;
    const std::size_t at = general.find("Control Text");
    const std::string line = at == std::string::npos ? "<none>" : general.substr(at, general.find('\r', at) - at);
    vektest::WriteOut(("DIALOG " + line + "\n").c_str());
    choices.Send = true;
    return true;
}

int ReportWithAFocusedPassword(const std::string& root, std::uint16_t smtpPort, mode_t mask)
{
    ::umask(mask);
    ::setenv("HOME", (root + "/home").c_str(), 1);
    if (!ui::SelectBackend(ui::BackendKind::bkHeadless)) return 7;
    // "logs" does not exist: the log goes to the fallback folder under
    // $HOME, and the failure copy makes "logs" beside the configured log.
    // The recording desktop, a dialog that shows the general page, and the
    // waiting thread's pump and focus.
    TReporterParts parts;
    parts.Desktop = pipelinetest::RecordingDesktop();
    parts.Dialogs.ShowExceptionDialog = &ShowGeneralPage;
    parts.PumpWaiting = &WaitingPumpRound;
    parts.FillFocus = &FillFocusOfThisThread;
    if (!pipelinetest::StartReporter(root + "/work", [&](TTavrelModuleOptions& o) {
            o.SetLogPath(root + "/logs/report.tlf");
            o.SetMailMethod(mmSmtpClient);
            o.SetSmtpServer("127.0.0.1");
            o.SetSmtpServerPort(smtpPort);
            o.SetSmtpSender("app@vek.invalid");
            o.SetMailRecipients("dev@vek.invalid");
            o.SetWebMethod(wmHttp);
            o.SetWebAddress("http://127.0.0.1/upload");
            o.SetWebServerPort(net_testing::UnusedTcpPort());
            o.SetSendFlags({sfAttachXmlCopy});
            o.SetBehaviourFlags({bhStoreFailedReports});
        }, &parts))
        return 9;

    ui::Form form;
    form.SetBounds(10, 10, 240, 80);
    auto* password = form.Add<ui::Edit>();
    password->SetBounds(5, 5, 200, 21);
    password->Password = true;
    password->SetText(kSecret);
    form.Show();
    password->SetFocus();
    ui::Msg m;
    while (ui::PeekMessage(m)) ui::DispatchMessage(m);
    try {
        throw rtl::Exception("signing in failed");
    } catch (const rtl::Exception& e) {
        ExceptionManager(const_cast<rtl::Exception*>(&e), &typeid(e), nullptr, rkApplication, 0);
    }
    return 0;
}

std::string FilesHolding(const std::string& folder, const std::string& text)
{
    std::string found;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file() && testing_support::ReadFile(entry.path()).find(text) != std::string::npos)
            found += entry.path().string() + "\n";
    return found;
}

class ReportPrivacy : public ::testing::TestWithParam<mode_t> {};

TEST_P(ReportPrivacy, NoPasswordAnywhereAndNoFileReadableByAnotherAccount)
{
    testing_support::TempDir root, store, unpacked;
    // The test's own folders let others in, so only the reporter's modes
    // keep them out.
    for (const std::string& own : {root.path(), root / "home", root / "work"}) {
        ::mkdir(own.c_str(), 0755);
        ASSERT_EQ(::chmod(own.c_str(), 0755), 0);
    }
    testing_support::WriteFile(root / "control.txt", "readable by all");
    ASSERT_EQ(::chmod((root / "control.txt").c_str(), 0644), 0);

    net_testing::TPeerProcess peer(net_testing::kPython,
                                   {net_testing::PeerScript("smtp_peer.py"), "store", store.path()});
    ASSERT_NE(peer.Port(), 0) << peer.Output();
    const std::uint16_t port = peer.Port();
    const auto r = vektest::RunInChild([&] { return ReportWithAFocusedPassword(root.path(), port, GetParam()); }, 60);
    ASSERT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    const std::size_t shown = r.Output.find("DIALOG Control Text");
    ASSERT_NE(shown, std::string::npos) << r.Output;
    EXPECT_EQ(r.Output.substr(shown, r.Output.find('\n', shown) - shown), "DIALOG Control Text : " + kMask);

    // What the report left behind, each of it owner-only.
    const std::string program = fs::path(kernel::MainExecutablePath()).filename();
    const std::string fallback = root / ("home/TavrelLog/" + program);
    const std::set<std::string> expected = {
        root / "home/TavrelLog",       fallback,      fallback + "/report.tlf",
        fallback + "/report.tlf.lock", root / "logs", root / "logs/CompressFiles.tgz"};
    std::set<std::string> left;
    for (const auto& entry : fs::recursive_directory_iterator(root.path())) {
        const std::string path = entry.path();
        if (path == root / "home" || path == root / "work" || path == root / "control.txt") continue;
        left.insert(path);
        struct stat st {};
        ASSERT_EQ(::lstat(path.c_str(), &st), 0) << path;
        EXPECT_EQ(st.st_mode & 07777, S_ISDIR(st.st_mode) ? 0700u : 0600u) << path;
    }
    EXPECT_EQ(left, expected);

    // The password nowhere: files left, the mail as stored, the failure copy's contents.
    ASSERT_EQ(
        testing_support::RunShell("tar -xzf " + root / "logs/CompressFiles.tgz" + " -C " + unpacked.path()).ExitCode,
        0);
    for (const std::string& folder : {root.path(), store.path(), unpacked.path()})
        EXPECT_EQ(FilesHolding(folder, kSecret), "") << "the password is in these files";
    const std::string maskedItem = "Control Text : " + kMask + "\r\n";
    EXPECT_NE(FilesHolding(store.path(), maskedItem), "") << "the mailed log and XML show the mask";
    EXPECT_NE(FilesHolding(fallback, maskedItem), "") << "the log shows the mask";
    EXPECT_NE(FilesHolding(unpacked.path(), maskedItem), "") << "the failure copy shows the mask";

    // A second account reads none of it (the readable control file shows it could).
    if (::geteuid() != 0 || !testing_support::HaveProgram("runuser")) GTEST_SKIP() << "no second account to try";
    std::string files = testing_support::ShellQuote(root / "control.txt");
    for (const std::string& path : left) files += " " + testing_support::ShellQuote(path);
    const auto read = testing_support::RunShell(
        "runuser -u nobody -- sh -c 'for f; do if [ -d \"$f\" ]; then ls \"$f\" >/dev/null 2>&1 && echo \"LISTED $f\"; "
        "else cat \"$f\" >/dev/null 2>&1 && echo \"READ $f\"; fi; done; true' - " +
        files);
    EXPECT_EQ(read.Output, "READ " + root / "control.txt" + "\n");
}

INSTANTIATE_TEST_SUITE_P(Masks, ReportPrivacy, ::testing::Values(mode_t(0022), mode_t(0000)),
                         [](const auto& info) { return info.param == 0 ? "Mask000" : "Mask022"; });

} // namespace
