// Faults turned into exceptions: each kind is caught by an ordinary catch
// with the right class, code, flag and address.
#include <gtest/gtest.h>

#include "platform/kernel/signal_stack.h"
#include "platform/kernel/threads.h"
#include "platform/rtl/signal_exceptions.h"
#include "tests/support/child_process.h"
#include "tests/support/faults.h"

#include <csignal>
#include <cstdio>
#include <string>

namespace {

class SignalExceptions : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(rtl::InstallSignalExceptions()); }
    static void TearDownTestSuite() { rtl::RemoveSignalExceptions(); }
};

using testing_support::Divide;
using testing_support::ReadAt;
using testing_support::Recurse;
using testing_support::WriteAt;

volatile int g_sink;

TEST_F(SignalExceptions, ReadAndWriteViolationsCarryFlagAndAddress)
{
    try {
        g_sink = ReadAt(0x18);
        FAIL() << "no exception";
    } catch (const rtl::EAccessViolation& e) {
        EXPECT_EQ(e.ExceptionRecord.ExceptionCode, rtl::STATUS_ACCESS_VIOLATION);
        EXPECT_FALSE(e.IsWrite());
        EXPECT_EQ(e.Address(), 0x18u);
        EXPECT_NE(std::string(e.what()).find("Read of address 0000000000000018"), std::string::npos) << e.what();
    }
    try {
        WriteAt(0x40);
        FAIL() << "no exception";
    } catch (const rtl::EExternal& e) { // caught through the base class
        auto* av = dynamic_cast<const rtl::EAccessViolation*>(&e);
        ASSERT_NE(av, nullptr);
        EXPECT_TRUE(av->IsWrite());
        EXPECT_EQ(av->Address(), 0x40u);
        EXPECT_NE(std::string(e.what()).find("Write of address 0000000000000040"), std::string::npos) << e.what();
    }
}

TEST_F(SignalExceptions, RepeatedFaultsKeepBeingCaught)
{
    // The handler leaves by a throw: the signal must not stay blocked.
    int caught = 0;
    for (int i = 0; i < 50; ++i) {
        try {
            g_sink = ReadAt(0x100 + static_cast<unsigned>(i) * 8);
        } catch (const rtl::EAccessViolation& e) {
            caught += e.Address() == 0x100u + static_cast<unsigned>(i) * 8;
        }
    }
    EXPECT_EQ(caught, 50);
}

TEST_F(SignalExceptions, IntegerDivisionByZero)
{
    try {
        g_sink = Divide(1, 0);
        FAIL() << "no exception";
    } catch (const rtl::EIntError& e) {
        EXPECT_NE(dynamic_cast<const rtl::EDivByZero*>(&e), nullptr);
        EXPECT_EQ(e.ExceptionRecord.ExceptionCode, rtl::STATUS_INTEGER_DIVIDE_BY_ZERO);
        EXPECT_STREQ(e.what(), "Division by zero");
        EXPECT_NE(e.ExceptionRecord.ExceptionAddress, nullptr);
    }
}

TEST_F(SignalExceptions, MappingHookMakesTheObject)
{
    static int calls = 0;
    static rtl::TExceptObjProc previous = nullptr;
    previous = rtl::SetExceptObjProc([](const rtl::TExceptionRecord& record, const ucontext_t* context,
                                        rtl::TExceptionStorage& storage) -> rtl::EExternal* {
        ++calls;
        return previous(record, context, storage);
    });
    try {
        g_sink = ReadAt(0x30);
    } catch (const rtl::EAccessViolation&) {
    }
    rtl::SetExceptObjProc(previous);
    EXPECT_EQ(calls, 1);
}

TEST_F(SignalExceptions, StackOverflowOnTheMainThreadIsAnException)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reports the overflow itself before the guard page";
#endif
    const auto result = vektest::RunInChild([] {
        try {
            g_sink = Recurse(0);
        } catch (const rtl::EStackOverflow& e) {
            std::printf("caught %s %08X\n", e.what(), e.ExceptionRecord.ExceptionCode);
            return 0;
        }
        return 2;
    });
    EXPECT_TRUE(result.Exited) << result.Output;
    EXPECT_EQ(result.ExitCode, 0) << result.Output;
    EXPECT_NE(result.Output.find("caught Stack overflow C00000FD"), std::string::npos) << result.Output;
}

TEST_F(SignalExceptions, StackOverflowOnAnotherThreadIsAnException)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reports the overflow itself before the guard page";
#endif
    const auto result = vektest::RunInChild([] {
        std::uint32_t id = 0;
        const kernel::THandle thread = kernel::CreateThread(
            [](void*) -> std::intptr_t {
                if (!kernel::ThreadSignalInfo().AltStackBase) return 5; // the start hook did not run
                try {
                    g_sink = Recurse(0);
                } catch (const rtl::EStackOverflow&) {
                    std::printf("caught on thread\n");
                    return 0;
                }
                return 3;
            },
            nullptr, 0, &id);
        kernel::WaitForThread(thread);
        kernel::CloseHandle(thread);
        return 0;
    });
    EXPECT_TRUE(result.Exited) << result.Output;
    EXPECT_NE(result.Output.find("caught on thread"), std::string::npos) << result.Output;
}

TEST_F(SignalExceptions, SentSignalGoesToTheHandlerInstalledBefore)
{
    const auto result = vektest::RunInChild([] {
        rtl::RemoveSignalExceptions();
        struct sigaction before {};
        before.sa_handler = [](int) {
            vektest::WriteOut("previous handler\n");
            _exit(3);
        };
        sigaction(SIGSEGV, &before, nullptr);
        rtl::InstallSignalExceptions();
        try {
            g_sink = ReadAt(0x8); // a real fault is still ours
        } catch (const rtl::EAccessViolation&) {
            vektest::WriteOut("fault caught\n");
        }
        raise(SIGSEGV); // sent: not a fault
        return 0;
    });
    EXPECT_TRUE(result.Exited) << result.Output;
    EXPECT_EQ(result.ExitCode, 3) << result.Output;
    EXPECT_NE(result.Output.find("fault caught\nprevious handler\n"), std::string::npos) << result.Output;
}

TEST_F(SignalExceptions, SentSignalWithDefaultActionEndsTheProcess)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer's SEGV handler is the action before ours: it reports the signal itself";
#endif
    const auto result = vektest::RunInChild([] {
        raise(SIGSEGV);
        return 0;
    });
    EXPECT_TRUE(result.Signaled) << result.Output;
    EXPECT_EQ(result.Signal, SIGSEGV);
}

TEST(ExternalExceptionTest, EAbortIsNotExternalAndSaysOperationAborted)
{
    try {
        rtl::Abort();
    } catch (const rtl::EExternal&) {
        FAIL();
    } catch (const rtl::Exception& e) {
        EXPECT_NE(dynamic_cast<const rtl::EAbort*>(&e), nullptr);
        EXPECT_STREQ(e.what(), "Operation aborted");
    }
}

} // namespace
