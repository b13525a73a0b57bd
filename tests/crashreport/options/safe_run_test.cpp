// The start-up guard.
#include <gtest/gtest.h>

#include <cstdio>
#include <exception>

#include "crashreport/options/options_errors.h"
#include "crashreport/options/safe_run.h"

using namespace crashreport;

namespace {

void Succeeds() {}
void RaisesRuntimeError() { throw rtl::Exception("boom"); }
void RaisesNonException() { throw 42; }
void RaisesWithoutMessage() { throw rtl::Exception(""); }

std::string g_section;
std::string g_seenMessage;

void RecordInternalError(const std::string& section)
{
    g_section = section;
    try {
        throw; // the failure being handled
    } catch (const std::exception& e) {
        g_seenMessage = e.what();
    } catch (...) {
        g_seenMessage = "?";
    }
}

void FailingHandler(const std::string&) { throw std::runtime_error("handler failed"); }

std::string Hex(void (*step)())
{
    char b[32];
    std::snprintf(b, sizeof b, "%016llX", static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(step)));
    return b;
}

struct THandlerScope {
    explicit THandlerScope(TInternalErrorHandler h) { previous = SetInternalErrorHandler(h); }
    ~THandlerScope() { SetInternalErrorHandler(previous); }
    TInternalErrorHandler previous;
};

} // namespace

TEST(SafeRun, WithoutAHandlerFailuresBecomeCriticalErrors)
{
    EXPECT_TRUE(SafeRun(&Succeeds, "TCore.Init"));
    try {
        SafeRun(&RaisesRuntimeError, "TCore.Init");
        FAIL();
    } catch (const ECriticalError& e) {
        EXPECT_EQ(e.Message, "Critical error at: \"TCore.Init\"\r\nError: \"boom\".");
    }
    try {
        SafeRun(&RaisesNonException, "TCore.Done");
        FAIL();
    } catch (const ECriticalError& e) {
        EXPECT_EQ(e.Message, "General internal error.");
    }
    // An exception whose message is empty carries no message either.
    try {
        SafeRun(&RaisesWithoutMessage, "TCore.Done");
        FAIL();
    } catch (const ECriticalError& e) {
        EXPECT_EQ(e.Message, "General internal error.");
    }
}

TEST(SafeRun, TheHandlerGetsNameAndAddressAndTheFailureEndsSilently)
{
    THandlerScope scope(&RecordInternalError);
    bool result = true;
    EXPECT_NO_THROW(result = SafeRun(&RaisesRuntimeError, "TCore.Init"));
    EXPECT_FALSE(result);
    EXPECT_EQ(g_section, "TCore.Init (Address: " + Hex(&RaisesRuntimeError) + ")");
    EXPECT_EQ(g_seenMessage, "boom");
    EXPECT_TRUE(SafeRun(&Succeeds, "x"));
}

TEST(SafeRun, AFailingHandlerIsContained)
{
    THandlerScope scope(&FailingHandler);
    EXPECT_FALSE(SafeRun(&RaisesNonException, "TCore.Done"));
}

TEST(SafeRun, CoreStartupRecognisesTheDevelopmentEnvironment)
{
    EXPECT_TRUE(IsDesignTimeHostFile("/opt/tavrel/bin/TavrelIDE"));
    EXPECT_TRUE(IsDesignTimeHostFile("tavrelide"));
    EXPECT_FALSE(IsDesignTimeHostFile("/usr/bin/vek2avi"));
    EXPECT_FALSE(IsDesignTimeHostFile("/opt/tavrelide/bin/tool"));
    EXPECT_TRUE(TavrelCoreInit());
    EXPECT_FALSE(IsDesignTimeHost());
    EXPECT_TRUE(TavrelCoreDone());
}
