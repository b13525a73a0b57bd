// The sending-progress dialog on its own thread, driven from this one only
// through the calls the sending code uses; and the empty report.
#include <gtest/gtest.h>

#include "crashreport/ui/exception_dialog.h"
#include "crashreport/ui/send_dialog.h"
#include "platform/ui/backend.h"
#include "tests/crashreport/ui/ui_test_support.h"

namespace {

using namespace crashreport;
using namespace crashreport::ui;

TEST(SendDialog, StatusProgressAndCloseFromAnotherThread)
{
    ASSERT_TRUE(::ui::SelectBackend(::ui::BackendKind::bkHeadless));
    TTavrelModuleOptions options("", false);
    // Without a send method there is no dialog, and the calls do nothing.
    StartSendDialog(options);
    EXPECT_EQ(SendDialogHandle(), 0u);
    SetSendStatus("ignored");
    SetSendProgress(50);
    CloseSendDialog();

    options.SetMailMethod(mmSmtpServer);
    StartSendDialog(options);
    ASSERT_NE(SendDialogHandle(), 0u);
    SetSendRecipient(1, 2);
    SetSendStatus(options.GetText(80));
    EXPECT_EQ(SendDialogStatus(), "Message 1/2: Sending message...");
    SetSendProgress(140);
    EXPECT_EQ(SendDialogProgress(), 100) << "clamped";
    WebSendProgress(0, 0, 0);
    EXPECT_EQ(SendDialogStatus(), "Connecting with server...");
    EXPECT_EQ(SendDialogProgress(), 0);
    WebSendProgress(2, 300, 100);
    EXPECT_EQ(SendDialogStatus(), "Sending message...");
    EXPECT_EQ(SendDialogProgress(), 33);
    CloseSendDialog();
    for (int i = 0; i < 500 && SendDialogHandle() != 0; ++i) ::ui::WaitMessage(10);
    EXPECT_EQ(SendDialogHandle(), 0u);
    EXPECT_EQ(SendDialogProgress(), -1);
}

TEST(SendDialog, WithoutShowSendDialogsNothingShows)
{
    ASSERT_TRUE(::ui::SelectBackend(::ui::BackendKind::bkHeadless));
    TTavrelModuleOptions options("", false);
    options.SetWebMethod(wmHttp);
    options.SetSendFlags(TSendFlags({sfAttachScreenshot}));
    StartSendDialog(options);
    EXPECT_EQ(SendDialogHandle(), 0u);
}

TEST(EmptyReport, TheDialogShowsWithoutReportSourcesOrMessage)
{
    ASSERT_TRUE(::ui::SelectBackend(::ui::BackendKind::bkHeadless));
    dialogtest::TDialogFixture f("");
    f.Dialog.Report = nullptr;
    f.Dialog.Sources = nullptr;
    f.Options.SetDialogFlags(TDialogFlags({dfShowDialog, dfShowDetailsButton}));
    TStateFile state;
    TExceptionDialog dialog(f.Dialog, f.Choices, state);
    dialog.Show();
    dialog.PaintNow();
    EXPECT_GE(dialog.Width(), 250);
    dialog.DetailsButton()->Click();
    for (int tab = 0; tab < static_cast<int>(dialog.VisiblePages().size()); ++tab) {
        dialog.SelectPage(tab);
        dialog.PaintNow();
        if (dialog.Page()->List()) {
            EXPECT_EQ(dialog.Page()->List()->ItemCount(), 0);
        }
    }
}

} // namespace
