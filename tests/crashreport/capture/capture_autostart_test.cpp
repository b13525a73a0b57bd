// The capture starts from the reporter's module initialisation, before the
// program's own static objects are made, with the program's stored options.
#include <gtest/gtest.h>

#include "crashreport/capture/exception_capture.h"
#include "crashreport/options/module_options.h"

namespace {

struct TProgramStatic {
    TProgramStatic() : CaptureStarted(crashreport::ExceptionCaptureStarted()) {}
    bool CaptureStarted;
};
TProgramStatic g_programStatic;

TEST(CaptureAutostart, StartedBeforeTheProgramsStaticsWithItsStoredOptions)
{
    EXPECT_TRUE(g_programStatic.CaptureStarted);
    EXPECT_TRUE(crashreport::ExceptionCaptureStarted());
    EXPECT_NO_THROW({
        crashreport::TTavrelModuleOptions& options = crashreport::CurrentTavrelLogOptions();
        EXPECT_TRUE(options.ReporterActive());
    });
}

} // namespace
