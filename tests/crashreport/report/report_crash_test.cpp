// The report of a real captured exception: the main thread runs a known
// call chain that ends in a write through a null pointer while a framework
// thread waits; the child's report pipeline builds the report, and the
// test reads it back.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <map>

#include "crashreport/capture/report_host.h"
#include "crashreport/capture/dispatcher.h"
#include "crashreport/capture/exception_capture.h"
#include "crashreport/report/captured_report.h"
#include "platform/kernel/threads.h"
#include "platform/rtl/thread.h"
#include "tests/crashreport/report/report_test_support.h"
#include "tests/support/child_process.h"
#include "tests/support/faults.h"
#include "tests/support/temp_dir.h"

namespace reportchain {

// Not null: a store through null is undefined behaviour the compiler may
// rely on; this address is simply not mapped.
volatile std::uintptr_t g_target = 0x28;

constexpr int kFaultLine = __LINE__ + 6;
constexpr int kMiddleLine = __LINE__ + 10;
constexpr int kOuterLine = __LINE__ + 15;
struct TFaultChain {
    __attribute__((noinline)) static void Fault()
    {
        *reinterpret_cast<volatile int*>(g_target) = 42;
        asm volatile("");
    }
    __attribute__((noinline)) static void Middle()
    {
        Fault();
        asm volatile("");
    }
    __attribute__((noinline)) static void Outer()
    {
        asm volatile("");
        Middle();
        asm volatile("");
    }
};

struct TWaitingThread : rtl::TThread {
    TWaitingThread() : rtl::TThread(false) {}
    void Execute() override
    {
        while (!Terminated()) ::usleep(1000);
    }
};

} // namespace reportchain

namespace {

using namespace crashreport;
using reporttest::SplitCRLF;
using testing_support::Contains;

std::string g_reportPath;
TTavrelModuleOptions* g_options = nullptr;

bool ReportPipeline(TCapturedException& exception)
{
    TGatherOptions gather;
    gather.RunningThreads = true;
    const TErrorReport report = BuildCapturedReport(exception, *g_options, gather);
    const int fd = ::open(g_reportPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
        ssize_t ignored = ::write(fd, report.Text.data(), report.Text.size());
        (void)ignored;
        ::close(fd);
    }
    if (const kernel::TThreadContext* c = exception.NotifyParams.Context) {
        const unsigned long long values[] = {c->Rax, c->Rdi, c->Rbx, c->Rsi, c->Rcx, c->Rsp, c->Rdx, c->Rip,
                                             c->R8,  c->R12, c->R9,  c->R13, c->R10, c->R14, c->R11, c->R15};
        std::string line = "CTX";
        for (unsigned long long v : values) {
            char hex[20];
            std::snprintf(hex, sizeof hex, " %016llX", v);
            line += hex;
        }
        std::printf("%s\nTHREAD %u\n", line.c_str(), exception.NotifyParams.ThreadID);
    }
    return true;
}

std::vector<std::string> Cells(const std::string& row)
{
    std::vector<std::string> cells;
    std::size_t start = 1;
    for (std::size_t bar = row.find('|', start); bar != std::string::npos; bar = row.find('|', start)) {
        std::string cell = row.substr(start, bar - start);
        while (!cell.empty() && cell.back() == ' ') cell.pop_back();
        cells.push_back(cell);
        start = bar + 1;
    }
    return cells;
}

TEST(CapturedReport, AFaultOnTheMainThreadGivesTheCompleteReport)
{
    testing_support::TempDir dir;
    g_reportPath = dir / "report.txt";
    const auto r = vektest::RunInChild(
        [] {
            g_options = new TTavrelModuleOptions("", false);
            g_options->SetStackFlags({stDllFrames, stPackageFrames, stRuntimeThreads});
            static TReportFunctionHost host(&ReportPipeline);
            InstallReportHost(&host);
            TCaptureStartup startup;
            startup.Options = g_options;
            startup.Force = true;
            if (!StartExceptionCapture(startup)) return 9;
            auto* waiting = rtl::TThread::Create<reportchain::TWaitingThread>();
            std::printf("STARTED %u MAIN %u\n", waiting->ThreadID(), kernel::GetCurrentThreadId());
            reportchain::TFaultChain::Outer();
            return 0;
        },
        60);
    const std::string text = testing_support::ReadFile(g_reportPath);
    ASSERT_FALSE(text.empty()) << r.Output;
    const auto lines = SplitCRLF(text);

    // Sections in order, with their labels.
    EXPECT_EQ(lines[0], "TavrelLog 5.1.5");
    std::size_t at = 0;
    for (const char* title : {"Application:", "Exception:", "Computer:", "Operating System:", "Network:",
                              "Call Stack Information:", "Modules Information:", "Registers:"}) {
        const std::size_t found = text.find(std::string("\r\n") + title + "\r\n", at);
        ASSERT_NE(found, std::string::npos) << title << "\n" << text;
        at = found;
    }
    EXPECT_TRUE(Contains(text, "  1.2 Name/Description: Report tests\r\n")) << text;
    EXPECT_TRUE(Contains(text, "  1.3 Version Number  : 5.1.5.0\r\n")) << text;
    EXPECT_TRUE(Contains(text, "  2.3 Module : report_crash_test\r\n")) << text;
    EXPECT_TRUE(Contains(text, "  2.4 Type   : EAccessViolation\r\n")) << text;
    EXPECT_TRUE(Contains(text, " in module 'report_crash_test'. Write of address 0000000000000028.\r\n")) << text;
    EXPECT_TRUE(Contains(text, "  4.1 Name          : ")) << text;

    // The exception thread's row names the main thread.
    unsigned waitingId = 0, mainId = 0;
    ASSERT_EQ(
        std::sscanf(r.Output.substr(r.Output.find("STARTED ")).c_str(), "STARTED %u MAIN %u", &waitingId, &mainId), 2)
        << r.Output;
    EXPECT_TRUE(Contains(text, "| Exception Thread: ID=" + std::to_string(mainId) + "; Priority=0; Class=; [Main] "))
        << text;
    // The waiting framework thread follows as a running thread with its own frames.
    const std::size_t running =
        text.find("| Running Thread: ID=" + std::to_string(waitingId) + "; Priority=0; Class=TWaitingThread ");
    ASSERT_NE(running, std::string::npos) << text;
    bool executeListed = false;
    for (const std::string& line : SplitCRLF(text.substr(running))) {
        const auto cells = Cells(line);
        if (line.empty() || line[0] != '|') break;
        if (cells.size() == 6 && Contains(cells[3], "TWaitingThread") && cells[4].rfind("Execute", 0) == 0)
            executeListed = cells[2] == "report_crash_test.cpp";
    }
    EXPECT_TRUE(executeListed) << text;

    // The call chain: Fault, Middle, Outer, resolved to unit, class,
    // procedure and line, in this order.
    std::vector<std::vector<std::string>> chain;
    for (const std::string& line : lines) {
        const auto cells = Cells(line);
        if (cells.size() == 6 && Contains(cells[3], "TFaultChain")) chain.push_back(cells);
    }
    ASSERT_GE(chain.size(), 3u) << text;
    const char* procedures[] = {"Fault", "Middle", "Outer"};
    const int numbers[] = {reportchain::kFaultLine, reportchain::kMiddleLine, reportchain::kOuterLine};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(chain[i][1], "report_crash_test") << text;
        EXPECT_EQ(chain[i][2], "report_crash_test.cpp") << text;
        EXPECT_EQ(chain[i][4].rfind(procedures[i], 0), 0u) << chain[i][4];
        EXPECT_EQ(chain[i][5], std::to_string(numbers[i])) << procedures[i] << "\n" << text;
    }

    // The modules section lists this program with its folder.
    bool listed = false;
    for (const std::string& line : lines) {
        const auto cells = Cells(line);
        if (cells.size() == 7 && cells[1] == "report_crash_test")
            listed = cells[2] == "Report tests" && cells[3] == "5.1.5.0" && cells[6].back() == '/';
    }
    EXPECT_TRUE(listed) << text;

    // Registers equal the captured context.
    const std::size_t ctx = r.Output.find("CTX");
    ASSERT_NE(ctx, std::string::npos) << r.Output;
    std::vector<std::string> values;
    for (std::size_t p = ctx + 4; values.size() < 16; p += 17) values.push_back(r.Output.substr(p, 16));
    const std::size_t registers = text.find("\r\nRegisters:\r\n");
    const auto cpu = SplitCRLF(text.substr(registers + 2));
    const char* names[] = {"RAX", "RDI", "RBX", "RSI", "RCX", "RSP", "RDX", "RIP",
                           "R8 ", "R12", "R9 ", "R13", "R10", "R14", "R11", "R15"};
    for (int row = 0; row < 8; ++row)
        EXPECT_EQ(cpu[2 + row],
                  std::string(names[2 * row]) + ": " + values[2 * row] + "   " + names[2 * row + 1] + ": " +
                      values[2 * row + 1]);
    // The memory dump starts at the exception address, the stack dump at RSP.
    ASSERT_GE(cpu.size(), 13u + 16u) << text;
    EXPECT_EQ(cpu[13].substr(0, 16), values[5]);
    EXPECT_EQ(cpu[13].substr(37, 16), values[7]);
}

} // namespace
