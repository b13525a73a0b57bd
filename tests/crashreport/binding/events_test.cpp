// Event dispatch order, exports of other modules, password requests, and
// running steps on the handling thread.
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "crashreport/options/module_identity.h"
#include "crashreport/binding/events.h"
#include "crashreport/binding/handling_thread.h"

extern "C" void EventModuleInstall(void (*log)(const char*));
extern "C" int EventModuleCode(int v);
extern "C" int PlainModuleCode(int v);

namespace {

using namespace crashreport;

std::vector<std::string> g_log;
void Log(const char* what) { g_log.emplace_back(what); }

void ComponentNotify(void* data, const TTavrelExceptionRecord&, bool& handle)
{
    g_log.push_back(std::string(static_cast<const char*>(data)) + (handle ? ":true" : ":false"));
}

void GlobalNotify(void*, const TTavrelExceptionRecord&, bool&) { g_log.push_back("global"); }

void ComponentData(void* data, const TTavrelExceptionRecord&, std::string& text)
{
    text += std::string("[") + static_cast<const char*>(data) + "]";
}

class EventsTest : public testing::Test {
protected:
    void SetUp() override
    {
        g_log.clear();
        EventModuleInstall(&Log);
        first_.Data = const_cast<char*>("first");
        first_.OnExceptionNotify = &ComponentNotify;
        first_.OnCustomDataRequest = &ComponentData;
        second_.Data = const_cast<char*>("second");
        second_.OnExceptionNotify = &ComponentNotify;
        second_.OnCustomDataRequest = &ComponentData;
        TTavrelLogList::Instance().Register(&first_);
        TTavrelLogList::Instance().Register(&second_);
        GlobalEventHandlers().OnExceptionNotify = &GlobalNotify;
    }
    void TearDown() override
    {
        TTavrelLogList::Instance().Unregister(&first_);
        TTavrelLogList::Instance().Unregister(&second_);
        GlobalEventHandlers() = TTavrelEventHandlers{};
    }
    TTavrelEventHandlers first_, second_;
};

TEST_F(EventsTest, ModuleExportFirstThenComponentsFromTheLastThenGlobal)
{
    ASSERT_GT(EventModuleCode(1), 0);
    TTavrelExceptionRecord record;
    record.ExceptionAddress = reinterpret_cast<void*>(&EventModuleCode);
    record.Text = "boom";
    bool handle = true;
    DispatchExceptionNotify(record, handle);
    const std::vector<std::string> expected = {"module:boom", "second:false", "first:false", "global"};
    EXPECT_EQ(g_log, expected);
    EXPECT_FALSE(handle); // the module's answer came back
}

TEST_F(EventsTest, AMissingExportDoesNotStopTheLocalHandlers)
{
    ASSERT_GT(PlainModuleCode(1), 0);
    TTavrelExceptionRecord record;
    record.ExceptionAddress = reinterpret_cast<void*>(&PlainModuleCode);
    bool handle = true;
    DispatchExceptionNotify(record, handle);
    const std::vector<std::string> expected = {"second:true", "first:true", "global"};
    EXPECT_EQ(g_log, expected);
}

TEST_F(EventsTest, OwnModuleIsNotAskedThroughItsExport)
{
    TTavrelExceptionRecord record;
    record.ExceptionAddress = reinterpret_cast<void*>(&Log); // in this program
    bool handle = true;
    DispatchExceptionNotify(record, handle);
    const std::vector<std::string> expected = {"second:true", "first:true", "global"};
    EXPECT_EQ(g_log, expected);
}

TEST_F(EventsTest, CustomDataPassesThroughTheModuleAndTheComponents)
{
    TTavrelExceptionRecord record;
    record.ExceptionAddress = reinterpret_cast<void*>(&EventModuleCode);
    std::string data = "start";
    DispatchCustomDataRequest(record, data);
    EXPECT_EQ(data, "start[module][second][first]");
}

TEST_F(EventsTest, PasswordsComeFromTheModuleOrFromLocalHandlers)
{
    TTavrelExceptionRecord record;
    EXPECT_EQ(RequestModulePassword(ModuleHandleOfAddress(reinterpret_cast<void*>(&EventModuleCode)), record),
              "from-module");
    EXPECT_EQ(RequestModulePassword(ModuleHandleOfAddress(reinterpret_cast<void*>(&PlainModuleCode)), record), "");
    GlobalEventHandlers().OnPasswordRequest = [](void*, std::string& p) { p = "local"; };
    EXPECT_EQ(RequestLocalPassword(record), "local");
    // A short string is cut to its capacity.
    TShortString s;
    TavrelLog_PasswordRequestEvent(&s, 3);
    EXPECT_EQ(std::string(s.Chars, s.Length), "loc");
}

int ThreadId() { return int(syscall(SYS_gettid)); }

TEST(HandlingThread, StepsOfOtherThreadsRunOnTheHandlingThread)
{
    BeginHandling(ThreadId());
    std::atomic<int> ranOn{0};
    std::atomic<bool> done{false};
    std::thread other([&] {
        RunInHandlingThread([&] { ranOn = ThreadId(); });
        done = true;
    });
    while (!done) {
        RunPostedStep();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    other.join();
    EndHandling();
    EXPECT_EQ(ranOn.load(), ThreadId());
}

TEST(HandlingThread, FailuresAreSwallowedAndTheDuplicateCheckRuns)
{
    int checks = 0;
    SetDuplicateCheck([&] { ++checks; });
    EXPECT_NO_THROW(RunInHandlingThread([] { throw std::runtime_error("handler failed"); }));
    bool ran = false;
    RunInHandlingThread([&] { ran = true; });
    EXPECT_TRUE(ran);
    EXPECT_EQ(checks, 2);
    SetDuplicateCheck(nullptr);
}

} // namespace
