// The framework integration of this platform, in child processes: a CGI
// program's standard output is kept as the last page (whatever road the
// text takes: write, writev, the C stream functions, std::cout), but not
// the reporter's own error page; the frameworks that do not exist here
// answer "not present"; a program that is no CGI program gets no
// interceptor; a program without GTK gets none of GTK's until a dlopen
// brings GTK in.
#include <gtest/gtest.h>

#include "crashreport/capture/exception_capture.h"
#include "crashreport/hook/hook_engine.h"
#include "crashreport/pipeline/framework_interceptors.h"
#include "crashreport/pipeline/gtk_interceptors.h"
#include "crashreport/pipeline/last_page.h"
#include "pipeline_test_support.h"
#include "platform/rtl/exception.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

#include <dlfcn.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

using namespace crashreport;

namespace {

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(Frameworks, OnlyTheOnesOfThisPlatformArePresent)
{
    EXPECT_TRUE(FrameworkPresent(fwGUIApplication));
    EXPECT_TRUE(FrameworkPresent(fwThreadClass));
    EXPECT_TRUE(FrameworkPresent(fwCGI));
    EXPECT_TRUE(FrameworkPresent(fwGTK));
    EXPECT_FALSE(FrameworkPresent(fwWebApplication));
    EXPECT_FALSE(FrameworkPresent(fwWebServerModule));
    EXPECT_FALSE(FrameworkPresent(fwService));
    EXPECT_FALSE(FrameworkPresent(fwNetworkLibrary));
}

TEST(Frameworks, ACgiProgramsStandardOutputIsKeptAsTheLastPageButNotTheReportersOwnPage)
{
    testing_support::TempDir dir;
    const auto r = vektest::RunInChild([&] {
        setenv("REQUEST_METHOD", "GET", 1);
        if (!pipelinetest::StartReporter(dir.path())) return 9;
        const char head[] = "Content-Type: text/html\r\n\r\n<p>one</p>";
        if (write(1, head, sizeof head - 1) < 0) return 8;
        struct iovec parts[2] = {{const_cast<char*>("<p>two"), 6}, {const_cast<char*>("</p>"), 4}};
        if (writev(1, parts, 2) < 0) return 8;
        std::fputs("<p>three</p>", stdout);
        std::cout << "<p>four</p>" << std::flush;
        std::fflush(stdout);
        const std::string page = LastPage();
        std::fprintf(stderr, "\nKEPT[%s]\n", page.c_str());
        try {
            throw rtl::Exception("cgi failure");
        } catch (const rtl::Exception& e) {
            ExceptionManager(const_cast<rtl::Exception*>(&e), &typeid(e), nullptr, rkRuntime, 0);
        }
        const std::string after = LastPage();
        std::fprintf(stderr, "\nAFTER status=%d page=%d\n", Has(after, "Status: 200 Error") ? 1 : 0,
                     Has(after, "cgi failure") ? 1 : 0);
        return 0;
    });
    EXPECT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    EXPECT_TRUE(Has(r.Output, "KEPT[Content-Type: text/html\r\n\r\n<p>one</p><p>two</p><p>three</p><p>four</p>]"))
        << r.Output;
    // The error page went out to the web server...
    EXPECT_TRUE(Has(r.Output, "Status: 200 Error")) << r.Output;
    // ... and the last page is the page of the report, not the reporter's output.
    EXPECT_TRUE(Has(r.Output, "AFTER status=0 page=1")) << r.Output;
}

TEST(Frameworks, AProgramThatIsNoCgiProgramKeepsNoPage)
{
    testing_support::TempDir dir;
    const auto r = vektest::RunInChild([&] {
        unsetenv("REQUEST_METHOD");
        if (!pipelinetest::StartReporter(dir.path())) return 9;
        if (write(1, "<p>x</p>", 8) < 0) return 8;
        std::fprintf(stderr, "\nKEPT=%zu\n", LastPage().size());
        return 0;
    });
    EXPECT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    EXPECT_TRUE(Has(r.Output, "KEPT=0")) << r.Output;
}

// This program does not link GTK: the reporter intercepts nothing of it
// until GTK is loaded, then the two closure constructors, the four
// handler-matching functions and the two sources' dispatch slots.
TEST(Frameworks, GtkIsInterceptedOnlyOnceAProgramLoadsIt)
{
    testing_support::TempDir dir;
    const auto r = vektest::RunInChild([&] {
        if (!pipelinetest::StartReporter(dir.path())) return 9;
        const int procedures = crashreport::hook::ProcedureHookCount();
        const int slots = crashreport::hook::HookedMethodCount();
        std::printf("\nBEFORE installed=%d\n", GtkInterceptorsInstalled() ? 1 : 0);
        if (!dlopen("libgtk-3.so.0", RTLD_NOW | RTLD_LOCAL)) return 77;
        std::printf("\nAFTER installed=%d procedures=%d slots=%d\n", GtkInterceptorsInstalled() ? 1 : 0,
                    crashreport::hook::ProcedureHookCount() - procedures,
                    crashreport::hook::HookedMethodCount() - slots);
        return 0;
    });
    EXPECT_TRUE(Has(r.Output, "BEFORE installed=0")) << r.Output;
    if (r.Exited && r.ExitCode == 77) GTEST_SKIP() << "GTK 3 is not installed";
    EXPECT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    EXPECT_TRUE(Has(r.Output, "AFTER installed=1 procedures=6 slots=2")) << r.Output;
}

} // namespace
