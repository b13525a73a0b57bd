#pragma once
// Shared by the dialog tests: a report made from the fixed sample, its
// options, and a state-file folder of its own for each test.
#include <cstdlib>
#include <memory>
#include <string>

#include "crashreport/report/report_dialogs.h"
#include "crashreport/options/module_options.h"
#include "tests/crashreport/report/report_test_support.h"
#include "tests/support/temp_dir.h"

namespace dialogtest {

struct TDialogFixture {
    explicit TDialogFixture(const std::string& message = "List index out of bounds (5).")
        : Sample(reporttest::MakeSample(message)), Options("", false)
    {
        ::setenv("XDG_CONFIG_HOME", Config.path().c_str(), 1);
        Report = crashreport::BuildReportText(Sample->Sources, Options);
        Dialog.Report = &Report;
        Dialog.Sources = &Sample->Sources;
        Dialog.Options = &Options;
        Dialog.ExceptionMessage = message;
        Dialog.ErrorsHandled = 1;
    }
    std::string StatePath() const { return Config / "TavrelLog.ini"; }

    testing_support::TempDir Config;
    std::unique_ptr<reporttest::TSampleReport> Sample;
    crashreport::TTavrelModuleOptions Options;
    crashreport::TErrorReport Report;
    crashreport::TDialogReport Dialog;
    crashreport::TReportChoices Choices;
};

// Where pictures go: docs/images with VEK_WRITE_DOCS_IMAGES=1, else the build tree.
inline std::string ImagesDir()
{
    const char* write = std::getenv("VEK_WRITE_DOCS_IMAGES");
    return write && *write == '1' ? std::string(VEK_SOURCE_DIR) + "/docs/images"
                                  : std::string(VEK_BUILD_DIR) + "/docs-images";
}

} // namespace dialogtest
