// The other threads of a report of a real fault: a framework thread and a
// system thread wait while the main thread faults. Each stack flag shows
// its kind of thread alone, and every shown thread is followed by the stack
// of the thread that started it, as it was when it started it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "crashreport/capture/dispatcher.h"
#include "crashreport/capture/exception_capture.h"
#include "crashreport/capture/report_host.h"
#include "crashreport/report/captured_report.h"
#include "platform/kernel/threads.h"
#include "platform/rtl/thread.h"
#include "tests/crashreport/report/report_test_support.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace threadchain {

volatile std::uintptr_t g_target = 0x30;
std::atomic<bool> g_stop{false};
std::atomic<int> g_started{0};

struct TFrameworkWaiter : rtl::TThread {
    TFrameworkWaiter() : rtl::TThread(false) {}
    void Execute() override
    {
        ++g_started;
        while (!Terminated()) ::usleep(1000);
    }
};

__attribute__((noinline)) void SystemWaiterBody()
{
    ++g_started;
    while (!g_stop) ::usleep(1000);
    asm volatile("");
}

__attribute__((noinline)) rtl::TThread* StartFrameworkWaiter()
{
    auto* thread = rtl::TThread::Create<TFrameworkWaiter>();
    asm volatile("");
    return thread;
}

__attribute__((noinline)) std::thread* StartSystemWaiter()
{
    auto* thread = new std::thread([] {
        SystemWaiterBody();
        asm volatile(""); // not a tail call: the lambda keeps its frame
    });
    asm volatile("");
    return thread;
}

__attribute__((noinline)) void FaultNow()
{
    *reinterpret_cast<volatile int*>(g_target) = 7;
    asm volatile("");
}

} // namespace threadchain

namespace {

using namespace crashreport;
using reporttest::SplitCRLF;

std::string g_threadsReportPath;
TTavrelModuleOptions* g_threadsOptions = nullptr;

bool ThreadsReportPipeline(TCapturedException& exception)
{
    TGatherOptions gather;
    gather.RunningThreads = true;
    gather.ReadSystemInformation = false;
    const TErrorReport report = BuildCapturedReport(exception, *g_threadsOptions, gather);
    const int fd = ::open(g_threadsReportPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
        ssize_t ignored = ::write(fd, report.Text.data(), report.Text.size());
        (void)ignored;
        ::close(fd);
    }
    return true;
}

// The procedure cells of each thread group, keyed by the group's caption
// ("Running Thread: ID=..", "Calling Thread: ID=..").
std::map<std::string, std::vector<std::string>> Groups(const std::string& text)
{
    std::map<std::string, std::vector<std::string>> groups;
    std::string current;
    for (const std::string& line : SplitCRLF(text)) {
        if (line.rfind("| ", 0) == 0 && line.find("Thread: ID=") != std::string::npos) {
            const std::size_t id = line.find("ID=");
            current = line.substr(2, line.find(';', id) - 2);
            groups[current];
            continue;
        }
        if (current.empty() || line.rfind("|0", 0) != 0) continue;
        std::vector<std::string> cells;
        std::size_t start = 1;
        for (std::size_t bar = line.find('|', start); bar != std::string::npos; bar = line.find('|', start)) {
            cells.push_back(line.substr(start, bar - start));
            start = bar + 1;
        }
        if (cells.size() == 6) groups[current].push_back(cells[4]);
    }
    return groups;
}

bool Holds(const std::vector<std::string>& procedures, const std::string& name)
{
    for (const std::string& p : procedures)
        if (p.find(name) != std::string::npos) return true;
    return false;
}

struct TFlagsCase {
    const char* Name;
    TStackFlags Flags;
    bool Framework, System;
};

TEST(ReportThreads, EachStackFlagShowsItsThreadsFollowedByTheirStartersStacks)
{
    const TFlagsCase cases[] = {
        {"none", {}, false, false},
        {"runtime", {stRuntimeThreads}, true, false},
        {"system", {stSystemThreads}, false, true},
        {"both", {stRuntimeThreads, stSystemThreads}, true, true},
    };
    for (const TFlagsCase& c : cases) {
        SCOPED_TRACE(c.Name);
        testing_support::TempDir dir;
        g_threadsReportPath = dir / "report.txt";
        const TStackFlags flags = c.Flags;
        const auto r = vektest::RunInChild(
            [flags] {
                g_threadsOptions = new TTavrelModuleOptions("", false);
                g_threadsOptions->SetStackFlags(flags + TStackFlags{stDllFrames});
                static TReportFunctionHost host(&ThreadsReportPipeline);
                InstallReportHost(&host);
                TCaptureStartup startup;
                startup.Options = g_threadsOptions;
                startup.Force = true;
                if (!StartExceptionCapture(startup)) return 9;
                rtl::TThread* framework = threadchain::StartFrameworkWaiter();
                std::thread* system = threadchain::StartSystemWaiter();
                while (threadchain::g_started < 2) ::usleep(1000);
                std::printf("FRAMEWORK %u\n", framework->ThreadID());
                std::fflush(stdout);
                (void)system;
                threadchain::FaultNow();
                return 0;
            },
            60);
        const std::string text = testing_support::ReadFile(g_threadsReportPath);
        ASSERT_FALSE(text.empty()) << r.Output;
        unsigned frameworkId = 0;
        ASSERT_EQ(std::sscanf(r.Output.substr(r.Output.find("FRAMEWORK ")).c_str(), "FRAMEWORK %u", &frameworkId), 1)
            << r.Output;
        const auto groups = Groups(text);
        const std::string frameworkKey = "Running Thread: ID=" + std::to_string(frameworkId);
        EXPECT_EQ(groups.count(frameworkKey) == 1, c.Framework) << text;
        // The system thread: the running group that is not the framework thread's.
        std::string systemKey;
        for (const auto& [key, rows] : groups)
            if (key.rfind("Running Thread", 0) == 0 && key != frameworkKey) systemKey = key;
        EXPECT_EQ(!systemKey.empty(), c.System) << text;

        if (c.Framework) {
            const std::string starter = "Calling Thread: ID=" + std::to_string(frameworkId);
            ASSERT_EQ(groups.count(starter), 1u) << text;
            EXPECT_TRUE(Holds(groups.at(frameworkKey), "Execute")) << text;
            // The starter's rows begin at the program's own frames, not the tracking's.
            ASSERT_FALSE(groups.at(starter).empty()) << text;
            EXPECT_TRUE(Holds(groups.at(starter), "StartFrameworkWaiter")) << text;
            EXPECT_FALSE(Holds(groups.at(starter), "CopyCallerStack")) << text;
            EXPECT_FALSE(Holds(groups.at(starter), "Interceptor")) << text;
        }
        if (c.System && !systemKey.empty()) {
            const std::string starter = "Calling Thread: ID=" + systemKey.substr(systemKey.find("ID=") + 3);
            ASSERT_EQ(groups.count(starter), 1u) << text;
            // The thread's own stack down to the frames that started it.
            EXPECT_TRUE(Holds(groups.at(systemKey), "SystemWaiterBody")) << text;
            EXPECT_TRUE(Holds(groups.at(systemKey), "operator()")) << text;
            EXPECT_TRUE(Holds(groups.at(starter), "StartSystemWaiter")) << text;
            EXPECT_FALSE(Holds(groups.at(starter), "CopyCallerStack")) << text;
        }
        // Every row here comes from the walk: nothing is marked as scanned.
        EXPECT_EQ(text.find(" [scan]"), std::string::npos) << text;
    }
}

} // namespace
