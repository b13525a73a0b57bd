// One sink receives the failures of every guard: the options' SafeRun, the
// hooking engine and the thread tracking start-up, each in the form
// "<step> (Address: <address>)", while the failure is still being handled.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "crashreport/errorlog/handled_exception.h"
#include "crashreport/hook/hook_engine.h"
#include "crashreport/threads/thread_tracking.h"
#include "crashreport/options/safe_run.h"
#include "platform/rtl/exception.h"

using namespace crashreport;

namespace {

struct TReceived {
    std::string Section, Message, ClassName;
};
std::vector<TReceived> g_received;

void Record(const std::string& section)
{
    const THandledException failure = CurrentHandledException();
    g_received.push_back({section, failure.Message, failure.ClassName});
}

void FailingStep() { throw rtl::Exception("step failed"); }

class TSinkScope {
public:
    TSinkScope() : previous_(SetInternalErrorHandler(&Record)) { g_received.clear(); }
    ~TSinkScope() { SetInternalErrorHandler(previous_); }

private:
    TInternalErrorHandler previous_;
};

class EAbort : public rtl::Exception {
public:
    using Exception::Exception;
};
class EQuietAbort : public EAbort {
public:
    using EAbort::EAbort;
};

} // namespace

TEST(InternalErrorSink, SafeRunAndTheHookingEngineReportToTheSameSink)
{
    TSinkScope scope;
    EXPECT_FALSE(SafeRun(&FailingStep, "TCore.Init"));
    try {
        throw rtl::Exception("cannot patch");
    } catch (...) {
        hook::ReportInternalError("Hook engine start (Address: 0000000000401000)");
    }
    ASSERT_EQ(g_received.size(), 2u);
    EXPECT_TRUE(std::regex_match(g_received[0].Section, std::regex("TCore\\.Init \\(Address: [0-9A-F]{16}\\)")));
    EXPECT_EQ(g_received[0].Message, "step failed");
    EXPECT_EQ(g_received[1].Section, "Hook engine start (Address: 0000000000401000)");
    EXPECT_EQ(g_received[1].Message, "cannot patch");
    EXPECT_TRUE(ReportInternalError("x"));
    SetInternalErrorHandler(nullptr);
    EXPECT_FALSE(ReportInternalError("x"));
}

TEST(InternalErrorSink, ThreadTrackingStepsUseTheGuardsForm)
{
    TSinkScope scope;
    // The system's shared page cannot be hooked: its step fails.
    ASSERT_TRUE(StartThreadTracking({"linux-vdso.so.1"}));
    StopThreadTracking();
    ASSERT_FALSE(g_received.empty());
    for (const TReceived& received : g_received) {
        SCOPED_TRACE(received.Section);
        EXPECT_TRUE(std::regex_match(received.Section,
                                     std::regex("Thread (creation|exit) interceptor \\(Address: [0-9A-F]{16}\\)")));
        EXPECT_NE(received.Message.find("shared-area"), std::string::npos);
    }
}

TEST(HandledException, ClassesAndTheirBases)
{
    try {
        throw EQuietAbort("quiet");
    } catch (...) {
        const THandledException failure = CurrentHandledException();
        EXPECT_TRUE(failure.Present);
        EXPECT_TRUE(failure.Language);
        EXPECT_TRUE(failure.Ignored); // derives from a class named EAbort
        EXPECT_EQ(failure.ClassName, "(anonymous namespace)::EQuietAbort");
        EXPECT_EQ(failure.Message, "quiet");
    }
    try {
        throw std::string("text");
    } catch (...) {
        const THandledException failure = CurrentHandledException();
        EXPECT_FALSE(failure.Language);
        EXPECT_FALSE(failure.Ignored);
        EXPECT_EQ(failure.ClassName, "std::__cxx11::basic_string<char, std::char_traits<char>, std::allocator<char> >");
    }
    EXPECT_FALSE(CurrentHandledException().Present);
    EXPECT_TRUE(ClassIsOrDerivesFrom(typeid(EQuietAbort), "Exception"));
    EXPECT_FALSE(ClassIsOrDerivesFrom(typeid(rtl::Exception), "EAbort"));
}
