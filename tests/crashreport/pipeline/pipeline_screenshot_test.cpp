// On a real X screen (Xvfb): a report of a GUI program sent through the
// loopback SMTP server carries the screenshot with the log copy and the XML
// copy in "CompressFiles.tgz", which the real tar unpacks; the screenshot
// is a PNG image of the screen's size. Skipped without a display.
#include <gtest/gtest.h>

#include "crashreport/capture/exception_capture.h"
#include "crashreport/pipeline/desktop/pipeline_desktop_ui.h"
#include "tests/support/peer_process.h"
#include "tests/support/run_command.h"
#include "pipeline_test_support.h"
#include "platform/kernel/files.h"
#include "platform/rtl/exception.h"
#include "platform/ui/application.h"
#include "platform/ui/backend.h"
#include "platform/ui/form.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

#include <fstream>
#include <sstream>

using namespace crashreport;

namespace {

std::string Shell(const std::string& command) { return testing_support::RunCommand(command + " 2>&1"); }

TEST(PipelineScreenshot, TheSentArchiveHoldsTheLogCopyTheXmlAndTheScreenshot)
{
    if (!ui::X11DisplayReachable()) GTEST_SKIP() << "no X display reachable";
    testing_support::TempDir dir, store;
    net_testing::TPeerProcess peer(net_testing::kPython,
                                   {net_testing::PeerScript("smtp_peer.py"), "store", store.path()});
    ASSERT_NE(peer.Port(), 0) << peer.Output();
    const std::uint16_t port = peer.Port();
    const auto r = vektest::RunInChild(
        [&] {
            if (!ui::SelectBackend(ui::BackendKind::bkX11)) return 7;
            ui::App().Initialize();
            const crashreport::TReporterParts parts = DesktopReporterParts();
            if (!pipelinetest::StartReporter(dir.path(), [&](auto& o) {
                    o.SetDialogFlags({});
                    o.SetMailMethod(mmSmtpClient);
                    o.SetSmtpServer("127.0.0.1");
                    o.SetSmtpServerPort(port);
                    o.SetMailRecipients("dev@vek.invalid");
                    o.SetSendFlags({sfAttachScreenshot, sfAttachXmlCopy, sfCompressAttachments});
                }, &parts))
                return 9;
            StartDesktopReporter();
            ui::Form form;
            form.SetBounds(40, 40, 300, 200);
            form.Show();
            ui::App().ProcessMessages();
            try {
                throw rtl::Exception("with a picture");
            } catch (const rtl::Exception& e) {
                ExceptionManager(const_cast<rtl::Exception*>(&e), &typeid(e), nullptr, rkApplication, 0);
            }
            return 0;
        },
        60);
    ASSERT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    const std::string archive = store / "1/attachments/CompressFiles.tgz";
    ASSERT_TRUE(kernel::FileExists(archive)) << Shell("ls -R " + store.path());
    testing_support::TempDir unpacked;
    const std::string listing = Shell("tar -xzvf " + archive + " -C " + unpacked.path());
    EXPECT_NE(listing.find("report.tlf"), std::string::npos) << listing;
    EXPECT_NE(listing.find("report.xml"), std::string::npos) << listing;
    EXPECT_NE(listing.find("Screenshot.png"), std::string::npos) << listing;
    const std::string file = Shell("file " + (unpacked / "Screenshot.png"));
    EXPECT_NE(file.find("PNG image data"), std::string::npos) << file;
    EXPECT_NE(file.find("8-bit colormap"), std::string::npos) << file;
    std::ifstream log(unpacked / "report.tlf");
    std::stringstream text;
    text << log.rdbuf();
    EXPECT_NE(text.str().find("2.5 Message: with a picture."), std::string::npos) << text.str();
}

} // namespace
