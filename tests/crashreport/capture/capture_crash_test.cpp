// Crash tests of the exception capture: each kind runs in a child process
// with the recording pipeline; the test checks the reports, the output and
// how the child ended.
#include <gtest/gtest.h>

#include "capture_test_support.h"
#include "crashreport/capture/capture_errors.h"
#include "crashreport/capture/raise_capture.h"
#include "crashreport/binding/handling_thread.h"
#include "crashreport/hook/hook_engine.h"
#include "platform/kernel/modules.h"
#include "platform/kernel/signal_stack.h"
#include "platform/rtl/external_exception.h"
#include "platform/rtl/safe_call.h"
#include "platform/rtl/thread.h"
#include "tests/support/faults.h"

#include <dlfcn.h>
#include <pthread.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>
#include <future>
#include <exception>
#include <string>
#include <thread>

using capturetest::CountFullReports;
using capturetest::CountReports;
using capturetest::StartForTest;
using testing_support::Contains;
using testing_support::Divide;
using testing_support::ReadAt;
using testing_support::Recurse;
using testing_support::WriteAt;
using vektest::RunInChild;

extern "C" {
bool TavrelLog_TestStartModuleCapture();
bool TavrelLog_TestModuleDelegates();
void TavrelLog_TestThrowUncaught();
bool TavrelLog_TestManagerFromModule();
}

namespace {

volatile int g_sink;

__attribute__((noinline)) void Throw(const char* text) { throw rtl::Exception(text); }

// A child that ended normally and unreported, having printed `marker`.
void ExpectEndedUnreported(const vektest::TChildResult& r, const char* marker)
{
    EXPECT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    EXPECT_EQ(CountReports(r.Output), 0) << r.Output;
    EXPECT_TRUE(Contains(r.Output, marker)) << r.Output;
}

TEST(CaptureCrash, ThrowCaughtInTheSameFunctionIsNotReported)
{
    const auto r = RunInChild([] {
        if (!StartForTest()) return 9;
        for (int i = 0; i < 3; ++i) try {
                throw rtl::Exception("caught here");
            } catch (const rtl::Exception&) {
            }
        try {
            Throw("caught by base class");
        } catch (const std::exception&) {
        }
        std::printf("done\n");
        return 0;
    });
    ExpectEndedUnreported(r, "done");
}

TEST(CaptureCrash, TypeFilteredCatchOfAnotherClassDoesNotTakeTheException)
{
    // Caught by catch (...) further out, but the inner filter does not
    // match: the outer catch-all takes it, so no report either; then a
    // noexcept frame in between means std::terminate: reported at raise.
    const auto r = RunInChild([] {
        if (!StartForTest()) return 9;
        try {
            try {
                Throw("filtered");
            } catch (const std::bad_alloc&) {
                std::printf("wrong handler\n");
            }
        } catch (...) {
            std::printf("outer caught\n");
        }
        [&]() noexcept {
            try {
                Throw("through noexcept");
            } catch (const std::bad_alloc&) {
            }
        }();
        return 0;
    });
    EXPECT_TRUE(Contains(r.Output, "outer caught")) << r.Output;
    EXPECT_FALSE(Contains(r.Output, "wrong handler")) << r.Output;
    EXPECT_EQ(CountReports(r.Output), 1) << r.Output;
    EXPECT_TRUE(Contains(r.Output, "msg=through noexcept")) << r.Output;
    EXPECT_TRUE(r.Exited && r.ExitCode == 1) << r.Output;
}

// Exceptions caught inside a noexcept function. A call to one leaves no
// entry in the caller's table, which the personality answers with
// terminate: the caller's frame must not count, as the exception never
// gets there.
// The dispatcher idiom: the current exception thrown again and sorted.
__attribute__((noinline)) int Classify() noexcept
{
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return 1;
    } catch (const rtl::Exception&) {
        return 2;
    } catch (...) {
        return 3;
    }
}

__attribute__((noinline)) int CatchInside() noexcept
{
    try {
        Throw("caught inside");
    } catch (const rtl::Exception&) {
        return 1;
    }
    return 0;
}

TEST(CaptureCrash, ExceptionsCaughtInsideNoexceptFunctionsAreNotReported)
{
    const auto r = RunInChild([] {
        if (!StartForTest()) return 9;
        const std::string cleanedUp = "a frame with cleanups calls the noexcept functions";
        int kinds = 0;
        for (int i = 0; i < 2; ++i) try {
                Throw("dispatched");
            } catch (...) {
                kinds += Classify();
            }
        try {
            throw 7;
        } catch (...) {
            kinds += Classify();
        }
        const int caught = CatchInside();
        std::printf("kinds=%d caught=%d %zu\n", kinds, caught, cleanedUp.size());
        return 0;
    });
    ExpectEndedUnreported(r, "kinds=7 caught=1");
}

TEST(CaptureCrash, CaughtExceptionsOfTheStandardLibrarysIdiomsAreNotReported)
{
    const auto r = RunInChild([] {
        if (!StartForTest()) return 9;
        int caught = 0;
        std::exception_ptr kept;
        try {
            Throw("kept");
        } catch (...) {
            kept = std::current_exception();
        }
        try {
            std::rethrow_exception(kept);
        } catch (const rtl::Exception&) {
            ++caught;
        }
        try {
            try {
                Throw("inner");
            } catch (...) {
                std::throw_with_nested(std::runtime_error("outer"));
            }
        } catch (const std::exception& e) {
            ++caught;
            try {
                std::rethrow_if_nested(e);
            } catch (const rtl::Exception&) {
                ++caught;
            }
        }
        auto result = std::async(std::launch::async, [] { Throw("on another thread"); });
        try {
            result.get();
        } catch (const rtl::Exception&) {
            ++caught;
        }
        std::thread([&] {
            try {
                std::vector<int>().at(3);
            } catch (const std::out_of_range&) {
                ++caught;
            }
        }).join();
        std::printf("caught=%d\n", caught);
        return 0;
    });
    ExpectEndedUnreported(r, "caught=5");
}

TEST(CaptureCrash, EAbortIsNeverReported)
{
    const auto r = RunInChild([] {
        if (!StartForTest()) return 9;
        rtl::EAbort handed;
        const bool defaultHandling = ExceptionManager(&handed, &typeid(handed), nullptr, crashreport::rkApplication, 0);
        std::printf("manager=%d\n", defaultHandling ? 1 : 0);
        rtl::Abort(); // uncaught: the process ends, silently
    });
    EXPECT_EQ(CountReports(r.Output), 0) << r.Output;
    EXPECT_TRUE(Contains(r.Output, "manager=1")) << r.Output;
    EXPECT_TRUE(r.Exited && r.ExitCode == 1) << r.Output;
}

TEST(CaptureCrash, UncaughtThrowInTheMainThreadIsReportedOnceAndEndsWithExitCode1)
{
    const auto r = RunInChild([] {
        if (!StartForTest()) return 9;
        Throw("boom");
        return 0;
    });
    EXPECT_TRUE(r.Exited) << r.Output;
    EXPECT_EQ(r.ExitCode, 1) << r.Output;
    EXPECT_EQ(CountReports(r.Output), 1) << r.Output;
    EXPECT_TRUE(Contains(r.Output, "REPORT mode=0 lang=1 class=Exception thread=main context=1 msg=boom")) << r.Output;
}

TEST(CaptureCrash, UncaughtThrowInATrackedThreadEndsOnlyThatThread)
{
    const auto r = RunInChild([] {
        if (!StartForTest()) return 9;
        struct TFailing : rtl::TThread {
            TFailing() : rtl::TThread(false) {}
            void Execute() override { Throw("thread body failed"); }
        };
        auto* thread = rtl::TThread::Create<TFailing>();
        thread->WaitFor();
        std::printf("fatal kept=%d\n", thread->FatalException() ? 1 : 0);
        delete thread;
        std::thread plain([] { Throw("plain thread failed"); });
        plain.join();
        std::printf("process goes on\n");
        return 0;
    });
    EXPECT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    EXPECT_EQ(CountFullReports(r.Output), 2) << r.Output;
    EXPECT_TRUE(
        Contains(r.Output, "REPORT mode=0 lang=1 class=Exception thread=other context=0 msg=thread body failed"))
        << r.Output;
    EXPECT_TRUE(Contains(r.Output, "msg=plain thread failed")) << r.Output;
    EXPECT_TRUE(Contains(r.Output, "fatal kept=1")) << r.Output;
    EXPECT_TRUE(Contains(r.Output, "process goes on")) << r.Output;
}

TEST(CaptureCrash, AccessViolationsCaughtByACatchAreNotReported)
{
    const auto r = RunInChild([] {
        if (!StartForTest()) return 9;
        try {
            g_sink = ReadAt(0x10);
        } catch (const rtl::EAccessViolation& e) {
            std::printf("read write=%d address=%lx\n", e.IsWrite() ? 1 : 0, static_cast<unsigned long>(e.Address()));
        }
        try {
            WriteAt(0x20);
        } catch (const rtl::EAccessViolation& e) {
            std::printf("write write=%d address=%lx\n", e.IsWrite() ? 1 : 0, static_cast<unsigned long>(e.Address()));
        }
        return 0;
    });
    EXPECT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    EXPECT_EQ(CountReports(r.Output), 0) << r.Output;
    EXPECT_TRUE(Contains(r.Output, "read write=0 address=10")) << r.Output;
    EXPECT_TRUE(Contains(r.Output, "write write=1 address=20")) << r.Output;
}

TEST(CaptureCrash, UncaughtReadAndWriteViolationsAreReportedWithAddressAndFlag)
{
    const auto read = RunInChild([] {
        if (!StartForTest()) return 9;
        g_sink = ReadAt(0x10);
        return 0;
    });
    EXPECT_TRUE(read.Exited && read.ExitCode == 1) << read.Output;
    EXPECT_EQ(CountReports(read.Output), 1) << read.Output;
    EXPECT_TRUE(
        Contains(read.Output, "lang=0 class=EAccessViolation thread=main context=1 msg=Access violation at address "))
        << read.Output;
    EXPECT_TRUE(Contains(read.Output, ". Read of address 0000000000000010")) << read.Output;

    const auto write = RunInChild([] {
        if (!StartForTest()) return 9;
        WriteAt(0x28);
        return 0;
    });
    EXPECT_TRUE(write.Exited && write.ExitCode == 1) << write.Output;
    EXPECT_EQ(CountReports(write.Output), 1) << write.Output;
    EXPECT_TRUE(Contains(write.Output, ". Write of address 0000000000000028")) << write.Output;
}

TEST(CaptureCrash, IntegerDivisionByZero)
{
    const auto r = RunInChild([] {
        if (!StartForTest()) return 9;
        g_sink = Divide(7, 0);
        return 0;
    });
    EXPECT_TRUE(r.Exited && r.ExitCode == 1) << r.Output;
    EXPECT_EQ(CountReports(r.Output), 1) << r.Output;
    EXPECT_TRUE(Contains(r.Output, "class=EDivByZero thread=main context=1 msg=Division by zero")) << r.Output;
}

TEST(CaptureCrash, StackOverflowOnTheMainThreadIsReportedOnceThenExitCode1)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reports the overflow itself before the guard page";
#endif
    const auto r = RunInChild([] {
        if (!StartForTest()) return 9;
        g_sink = Recurse(0);
        return 0;
    });
    EXPECT_TRUE(r.Exited && r.ExitCode == 1) << r.Output;
    EXPECT_EQ(CountReports(r.Output), 1) << r.Output;
    EXPECT_TRUE(Contains(r.Output, "class=EStackOverflow thread=main")) << r.Output;
}

TEST(CaptureCrash, StackOverflowOnAnotherThreadEndsThatThreadAfterOneReport)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reports the overflow itself before the guard page";
#endif
    const auto r = RunInChild([] {
        if (!StartForTest()) return 9;
        std::thread overflow([] { g_sink = Recurse(0); });
        overflow.join();
        std::printf("process goes on\n");
        return 0;
    });
    EXPECT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    EXPECT_EQ(CountReports(r.Output), 1) << r.Output;
    EXPECT_TRUE(Contains(r.Output, "class=EStackOverflow thread=other")) << r.Output;
    EXPECT_TRUE(Contains(r.Output, "process goes on")) << r.Output;
}

// The fault handler's use of the alternate stack: painted beforehand, read
// by the report thread while the faulting thread waits in the dispatcher.
std::uintptr_t g_altBase = 0;
std::size_t g_altSize = 0;

// The alternate stack holds the sanitizer's redzones of the handler's frames:
// painting and reading it are not checked.
__attribute__((no_sanitize("address"))) void PaintAltStack()
{
    auto* p = reinterpret_cast<volatile unsigned char*>(g_altBase);
    for (std::size_t i = 0; i < g_altSize; ++i) p[i] = 0xA5;
}

__attribute__((no_sanitize("address"))) std::size_t UntouchedAltStack()
{
    std::size_t untouched = 0;
    const auto* p = reinterpret_cast<const volatile unsigned char*>(g_altBase);
    while (untouched < g_altSize && p[untouched] == 0xA5) ++untouched;
    return untouched;
}

TEST(CaptureCrash, FaultHandlerUsesWellUnderHalfOfTheAlternateStack)
{
    const auto r = RunInChild([] {
        if (!StartForTest()) return 9;
        const kernel::TThreadSignalInfo& info = kernel::ThreadSignalInfo();
        g_altBase = info.AltStackBase;
        g_altSize = info.AltStackSize;
        if (!g_altBase) return 8;
        PaintAltStack();
        capturetest::g_duringReport = [](crashreport::TCapturedException&) {
            const std::size_t untouched = UntouchedAltStack();
            std::printf("ALTSTACK used=%zu of %zu\n", g_altSize - untouched, g_altSize);
        };
        g_sink = ReadAt(0x30);
        return 0;
    });
    EXPECT_EQ(CountReports(r.Output), 1) << r.Output;
    const auto at = r.Output.find("ALTSTACK used=");
    ASSERT_NE(at, std::string::npos) << r.Output;
    std::size_t used = 0, size = 0;
    ASSERT_EQ(std::sscanf(r.Output.c_str() + at, "ALTSTACK used=%zu of %zu", &used, &size), 2);
    std::printf("alternate stack used by a reported fault: %zu of %zu bytes\n", used, size);
    EXPECT_GT(used, 0u);
    EXPECT_LT(used, size / 2);
}

TEST(CaptureCrash, AbortIsReportedThenTheProcessEndsBySigabrt)
{
    const auto r = RunInChild([] {
        if (!StartForTest()) return 9;
        std::abort();
    });
    EXPECT_TRUE(r.Signaled && r.Signal == SIGABRT) << r.Output;
    EXPECT_EQ(CountReports(r.Output), 1) << r.Output;
    EXPECT_TRUE(Contains(r.Output, "msg=External exception 40000015")) << r.Output;
}

TEST(CaptureCrash, SignalSentWithKillIsNotAFault)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer's SEGV handler is the action before ours: it reports the signal itself";
#endif
    const auto r = RunInChild([] {
        if (!StartForTest()) return 9;
        kill(getpid(), SIGSEGV);
        return 0;
    });
    EXPECT_TRUE(r.Signaled && r.Signal == SIGSEGV) << r.Output;
    EXPECT_EQ(CountReports(r.Output), 0) << r.Output;
}

TEST(CaptureCrash, ThrowFromALibraryThatCarriesItsOwnReporterIsReportedByTheProgram)
{
    const auto r = RunInChild([] {
        if (!StartForTest()) return 9;
        if (!TavrelLog_TestStartModuleCapture()) return 8;
        std::printf("library delegates=%d\n", TavrelLog_TestModuleDelegates() ? 1 : 0);
        const bool answer = TavrelLog_TestManagerFromModule();
        std::printf("manager answer=%d\n", answer ? 1 : 0);
        TavrelLog_TestThrowUncaught();
        return 0;
    });
    EXPECT_TRUE(Contains(r.Output, "library delegates=1")) << r.Output;
    EXPECT_TRUE(Contains(r.Output, "msg=handed over by the library")) << r.Output;
    EXPECT_TRUE(Contains(r.Output, "msg=thrown in the library")) << r.Output;
    EXPECT_EQ(CountReports(r.Output), 2) << r.Output;
    EXPECT_TRUE(r.Exited && r.ExitCode == 1) << r.Output;
}

TEST(CaptureCrash, NestedThrowInAnEventHandlerDuringAReportIsSwallowed)
{
    const auto r = RunInChild([] {
        if (!StartForTest()) return 9;
        static std::uint32_t faulting = 0;
        faulting = kernel::GetCurrentThreadId();
        capturetest::g_duringReport = [](crashreport::TCapturedException&) {
            crashreport::RunInHandlingThread([] {
                std::printf("handler on faulting thread=%d\n", kernel::GetCurrentThreadId() == faulting ? 1 : 0);
                rtl::Exception nested("nested in handler");
                // Re-entry while this thread is being reported: answered handled.
                std::printf("nested manager=%d\n",
                            ExceptionManager(&nested, &typeid(nested), nullptr, crashreport::rkRuntime, 0) ? 1 : 0);
                Throw("thrown by the handler");
            });
        };
        Throw("reported");
        return 0;
    });
    EXPECT_EQ(CountReports(r.Output), 1) << r.Output;
    EXPECT_TRUE(Contains(r.Output, "msg=reported")) << r.Output;
    EXPECT_TRUE(Contains(r.Output, "handler on faulting thread=1")) << r.Output;
    EXPECT_TRUE(Contains(r.Output, "nested manager=0")) << r.Output;
    EXPECT_TRUE(r.Exited && r.ExitCode == 1) << r.Output;
}

TEST(CaptureCrash, SafeCallExceptionIsReportedOnce)
{
    const auto r = RunInChild([] {
        if (!StartForTest()) return 9;
        const std::int32_t hr = rtl::SafeCall([](void*) { Throw("inside safecall"); }, nullptr);
        std::printf("hr=%08X\n", static_cast<unsigned>(hr));
        try {
            rtl::SafeCallCheck(hr);
        } catch (const rtl::ESafecallException& e) {
            std::printf("caller sees: %s\n", e.what());
        }
        rtl::SafeCallCheck(hr); // uncaught this time: answered handled, no second report
        return 0;
    });
    EXPECT_EQ(CountReports(r.Output), 1) << r.Output;
    EXPECT_TRUE(Contains(r.Output, "REPORT mode=1 lang=1 class=Exception")) << r.Output;
    EXPECT_TRUE(Contains(r.Output, "hr=8000FFFF")) << r.Output;
    EXPECT_TRUE(Contains(r.Output, "caller sees: [SafeCall Exception]: inside safecall")) << r.Output;
}

TEST(CaptureCrash, CaptureSwitchesStopReports)
{
    const auto r = RunInChild([] {
        if (!StartForTest()) return 9;
        auto hand = [](const char* text) {
            rtl::Exception e(text);
            return ExceptionManager(&e, &typeid(e), nullptr, crashreport::rkApplication, 0);
        };
        crashreport::SetCaptureOn(false);
        std::printf("off answer=%d\n", hand("while off") ? 1 : 0);
        crashreport::SetCaptureOn(true);
        std::printf("on answer=%d\n", hand("while on") ? 1 : 0);
        crashreport::SetThreadCaptureOff(kernel::GetCurrentThreadId(), true);
        std::printf("thread off answer=%d\n", hand("thread off") ? 1 : 0);
        Throw("main thread in the off-list");
        return 0;
    });
    EXPECT_EQ(CountReports(r.Output), 1) << r.Output;
    EXPECT_TRUE(Contains(r.Output, "msg=while on")) << r.Output;
    EXPECT_TRUE(Contains(r.Output, "off answer=1")) << r.Output;
    EXPECT_TRUE(Contains(r.Output, "thread off answer=1")) << r.Output;
    EXPECT_TRUE(r.Exited && r.ExitCode == 1) << r.Output;
}

TEST(CaptureCrash, FaultWithTheStackPointerOutsideTheStackIsReportedOnce)
{
    const auto r = RunInChild([] {
        if (!StartForTest()) return 9;
        // The stack pointer leaves the stack, then a store through it faults.
        asm volatile("mov %%rsp, %%rbx\n\tmov $0x1000, %%rsp\n\tmovq $0, (%%rsp)\n\tmov %%rbx, %%rsp"
                     :
                     :
                     : "rbx", "memory");
        return 0;
    });
    EXPECT_TRUE(r.Exited && r.ExitCode == 1) << r.Output;
    EXPECT_EQ(CountReports(r.Output), 1) << r.Output;
    EXPECT_TRUE(Contains(r.Output, ". Write of address 0000000000001000")) << r.Output;
}

TEST(CaptureCrash, FaultInsideTheReportIsAnInternalError)
{
    const auto r = RunInChild([] {
        if (!StartForTest()) return 9;
        crashreport::SetCaptureErrorHandler([](const char* section, const char* text) {
            char line[256];
            std::snprintf(line, sizeof line, "INTERNAL %s: %s\n", section, text);
            vektest::WriteOut(line);
        });
        capturetest::g_duringReport = [](crashreport::TCapturedException&) { g_sink = ReadAt(0x50); };
        Throw("reported by a failing pipeline");
        return 0;
    });
    EXPECT_TRUE(r.Exited && r.ExitCode == 1) << r.Output;
    EXPECT_EQ(CountReports(r.Output), 0) << r.Output;
    EXPECT_TRUE(Contains(r.Output, "INTERNAL Dispatch: the report pipeline raised an exception")) << r.Output;
}

TEST(CaptureCrash, CurrentTavrelLogOptionsWithoutOptionsIsAnAssertion)
{
    const auto r = RunInChild([] {
        try {
            crashreport::CurrentTavrelLogOptions();
        } catch (const rtl::EAssertionFailed& e) {
            std::printf("[%s]\n", e.what());
            return 0;
        }
        return 2;
    });
    EXPECT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    EXPECT_TRUE(Contains(r.Output,
                         "[\r\nCannot use 'CurrentTavrelLogOptions' function without activate TavrelLog.\r\n"
                         "To activate TavrelLog use the new IDE \"Project/TavrelLog Options...\" menu.]"))
        << r.Output;
}

TEST(CaptureCrash, RepeatedThrowsAtOnePlaceAreAnalysedOnce)
{
    const auto r = RunInChild([] {
        if (!StartForTest()) return 9;
        crashreport::ClearAnalysisCache();
        for (int i = 0; i < 100; ++i) try {
                Throw("again");
            } catch (const rtl::Exception&) {
            }
        std::printf("cache=%d\n", crashreport::AnalysisCacheCount());
        for (int i = 0; i < 30; ++i) // three more places, each analysed once
            try {
                switch (i % 3) {
                case 0: throw std::runtime_error("a");
                case 1: throw std::logic_error("b");
                default: throw rtl::EFOpenError("c");
                }
            } catch (...) {
            }
        std::printf("cache after=%d\n", crashreport::AnalysisCacheCount());
        return 0;
    });
    EXPECT_TRUE(Contains(r.Output, "cache=1\n")) << r.Output;
    EXPECT_TRUE(Contains(r.Output, "cache after=4\n")) << r.Output;
}

// A library loaded after start-up gets the raise interception; once it is
// unloaded, stopping the capture writes nothing into it.
TEST(CaptureCrash, ThrowsOfALibraryLoadedLaterAreSeenAtTheirRaise)
{
    const auto r = RunInChild([] {
        if (!StartForTest()) return 9;
        crashreport::ClearAnalysisCache();
        void* plugin = dlopen(VEK_LATER_PLUGIN, RTLD_LAZY | RTLD_LOCAL);
        if (!plugin) return 8;
        kernel::TModuleImage module;
        if (!kernel::FindModuleByName(VEK_LATER_PLUGIN, module)) return 5;
        std::printf("plugin cells intercepted: %s\n", crashreport::hook::ImportHookCount(module.Handle) > 0 ? "yes" : "no");
        auto throwAndCatch = reinterpret_cast<int (*)(int)>(dlsym(plugin, "TavrelLog_TestPluginThrowAndCatch"));
        if (!throwAndCatch) return 7;
        const int caught = throwAndCatch(3);
        std::printf("caught=%d analysed=%d\n", caught, crashreport::AnalysisCacheCount());
        if (dlclose(plugin) != 0) return 6;
        std::printf("released: %s\n", crashreport::hook::ImportHookCount(module.Handle) == 0 ? "yes" : "no");
        crashreport::StopExceptionCapture();
        std::printf("stopped\n");
        return 0;
    });
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
    EXPECT_TRUE(Contains(r.Output, "plugin cells intercepted: yes\n")) << r.Output;
    EXPECT_TRUE(Contains(r.Output, "caught=3 analysed=1\n")) << r.Output;
    EXPECT_TRUE(Contains(r.Output, "released: yes\n")) << r.Output;
    EXPECT_TRUE(Contains(r.Output, "stopped\n")) << r.Output;

    // Uncaught in a library with its own runtime: its cells are intercepted,
    // and the throw is reported once, raised at the plugin's throw.
    const auto u = RunInChild([] {
        capturetest::g_duringReport = [](crashreport::TCapturedException& c) {
            kernel::TModuleImage module;
            const bool found = kernel::FindModuleByAddress(c.Address, module);
            std::printf("raised in %s\n", found ? module.Path.c_str() : "?");
            std::fflush(stdout);
        };
        if (!StartForTest()) return 9;
        void* plugin = dlopen(VEK_LATER_PLUGIN_OWN_RUNTIME, RTLD_LAZY | RTLD_LOCAL);
        if (!plugin) return 8;
        kernel::TModuleImage module;
        if (!kernel::FindModuleByName(VEK_LATER_PLUGIN_OWN_RUNTIME, module)) return 5;
        std::printf("plugin cells intercepted: %s\n", crashreport::hook::ImportHookCount(module.Handle) > 0 ? "yes" : "no");
        std::fflush(stdout);
        auto throwUncaught = reinterpret_cast<void (*)()>(dlsym(plugin, "TavrelLog_TestPluginThrow"));
        if (!throwUncaught) return 7;
        throwUncaught();
        return 0;
    });
    EXPECT_EQ(u.ExitCode, 1) << u.Output;
    EXPECT_EQ(CountReports(u.Output), 1) << u.Output;
    EXPECT_TRUE(Contains(u.Output, "lang=1 class=runtime_error")) << u.Output;
    EXPECT_TRUE(Contains(u.Output, "plugin cells intercepted: yes\n")) << u.Output;
    EXPECT_TRUE(Contains(u.Output, std::string("raised in ") + VEK_LATER_PLUGIN_OWN_RUNTIME + "\n")) << u.Output;
}

} // namespace
