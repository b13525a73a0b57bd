// The desktop converter carries the reporter (headless backend, in child
// processes): an error of a conversion run (a damaged frame file) escapes
// the button's handler, reaches the application object's exception
// handling and becomes a report (the exception dialog, the log) instead of
// the framework's plain message box.
#include <gtest/gtest.h>

#include "crashreport/report/report_dialogs.h"

#include "converter/gui/main_form.h"
#include "crashreport/pipeline/desktop/pipeline_desktop_ui.h"
#include "pipeline_test_support.h"
#include "platform/ui/application.h"
#include "platform/ui/backend.h"
#include "platform/ui/headless.h"
#include "platform/ui/message_box.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

#include <algorithm>
#include <fstream>
#include <vector>

using pipelinetest::Occurrences;
using pipelinetest::StoredReport;
using pipelinetest::StoredReports;

namespace {

// Starts the reporter and the converter's window; a damaged file in Edit1;
// presses Start; prints "BOX" for every plain message box.
int RunDamagedConversion(const std::string& folder, bool recordedDialog)
{
    if (!ui::SelectBackend(ui::BackendKind::bkHeadless)) return 8;
    ui::App().Initialize();
    // The desktop's parts; without dialogs: the record a program without
    // the dialog library has.
    crashreport::TReporterParts parts = crashreport::DesktopReporterParts();
    parts.Dialogs = recordedDialog ? pipelinetest::RecordingDialogs({}) : crashreport::TReportDialogs{};
    if (!pipelinetest::StartReporter(folder, {}, &parts)) return 9;
    crashreport::StartDesktopReporter();
    ui::OnMessageBoxShown = [](ui::MessageBoxForm& box) {
        std::printf("BOX %s\n", box.TextLabel()->Text().c_str());
        ui::SimulateKey(box, ui::VK_RETURN);
    };
    std::ofstream(folder + "/damaged.vek") << "VEK?";
    converter::gui::TForm1 form;
    form.Show();
    form.Edit1->SetText(folder + "/damaged.vek");
    ui::PumpPending(false);
    ui::SimulateClick(*form.Button2, 10, 10);
    ui::PumpPending(false);
    std::printf("window goes on\n");
    return 0;
}

TEST(ConverterGuiReporter, ADamagedFrameFileShowsTheExceptionDialogInsteadOfAMessageBox)
{
    testing_support::TempDir dir;
    const auto r = vektest::RunInChild([&] { return RunDamagedConversion(dir.path(), true); }, 60);
    EXPECT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    EXPECT_EQ(Occurrences(r.Output, "DIALOG "), 1) << r.Output;
    EXPECT_NE(r.Output.find("DIALOG Cannot convert"), std::string::npos) << r.Output;
    EXPECT_EQ(Occurrences(r.Output, "BOX "), 0) << r.Output;
    EXPECT_NE(r.Output.find("window goes on"), std::string::npos) << r.Output;
    ASSERT_EQ(StoredReports(dir.path()), 1);
    const std::string report = StoredReport(dir.path(), 0);
    EXPECT_NE(report.find("2.5 Message: Cannot convert"), std::string::npos) << report;
    EXPECT_NE(report.find("3.1 Form Class   : TForm1"), std::string::npos) << report;
}

// The error is reported by the application object's handler after its
// frames unwound: the call stack is the one of the raise, read from the
// registers and the stack copy of that moment.
TEST(ConverterGuiReporter, TheCallStackOfAHandledErrorStartsWhereItWasRaised)
{
    testing_support::TempDir dir;
    const auto r = vektest::RunInChild([&] { return RunDamagedConversion(dir.path(), false); }, 60);
    ASSERT_EQ(StoredReports(dir.path()), 1) << r.Output;
    const std::string report = StoredReport(dir.path(), 0);
    std::vector<std::string> procedures;
    std::size_t at = report.find("| Exception Thread:");
    ASSERT_NE(at, std::string::npos) << report;
    at = report.find("\r\n", report.find("\r\n", at) + 2) + 2; // past the group's dash line
    for (std::size_t end; (end = report.find("\r\n", at)) != std::string::npos && report.compare(at, 2, "|0") == 0;
         at = end + 2) {
        const std::string line = report.substr(at, end - at);
        std::size_t cell = 0;
        for (int i = 0; i < 4; ++i) cell = line.find('|', cell + 1);
        procedures.push_back(line.substr(cell + 1, line.find('|', cell + 1) - cell - 1));
    }
    ASSERT_GE(procedures.size(), 3u) << report;
    EXPECT_EQ(procedures[0].rfind("Refuse", 0), 0u) << report;
    // Down to the button's handler every row is a frame of the raise, none
    // of the application object's handling.
    std::size_t click = procedures.size();
    for (std::size_t i = 0; i < procedures.size(); ++i)
        if (procedures[i].find("Button2Click") != std::string::npos) click = std::min(click, i);
    ASSERT_LT(click, procedures.size()) << report;
    for (std::size_t i = 0; i <= click; ++i) {
        EXPECT_EQ(procedures[i].find("HandleException"), std::string::npos) << report;
        EXPECT_EQ(procedures[i].find("[scan]"), std::string::npos) << report;
    }
}

TEST(ConverterGuiReporter, WithoutDialogsTheReportStillGoesToTheLogAndNoPlainBoxAppears)
{
    testing_support::TempDir dir;
    const auto r = vektest::RunInChild([&] { return RunDamagedConversion(dir.path(), false); }, 60);
    EXPECT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    EXPECT_EQ(Occurrences(r.Output, "BOX "), 0) << r.Output;
    EXPECT_EQ(StoredReports(dir.path()), 1);
}

} // namespace
