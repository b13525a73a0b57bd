// The full text report of a process with 8 threads of about 30 frames each,
// every frame symbolized from this program's stored data; and appending one
// report to a log that holds MaxSavedErrors = 200 reports (load, append,
// write-back to a temporary file flushed to the disk, rename).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "crashreport/modules/modules_list.h"
#include "crashreport/report/log_file.h"
#include "crashreport/report/report_text.h"
#include "crashreport/stack/stack_scan.h"
#include "platform/kernel/threads.h"

namespace {

using namespace crashreport;

volatile int g_sink;
TStackAddresses* g_addresses = nullptr;

void CollectStack()
{
    std::uintptr_t top = 0, bottom = 0;
    kernel::GetCurrentThreadStack(top, bottom);
    TStackArea area{nullptr, __builtin_frame_address(0), reinterpret_cast<const void*>(top)};
    TCodeRanges code;
    ScanStackAddresses(area, false, code, *g_addresses);
}

// Thirty different functions of this program on the stack (a recursion of
// one function would be one frame after the tidy step), then the stack's
// return addresses are collected.
template <int N> __attribute__((noinline)) void Dive()
{
    if constexpr (N <= 1)
        CollectStack();
    else
        Dive<N - 1>();
    g_sink = N;
}

TReportSources SourcesWithModules()
{
    TReportSources sources;
    for (unsigned i = 0; i < ReportItemCount; ++i) sources.Items[i] = "value " + std::to_string(i);
    TModulesListLock lock;
    for (const auto& module : ModulesList().Items()) sources.Modules.push_back(ReportModuleRowOf(*module));
    return sources;
}

void FullReportOfEightThreads(benchmark::State& state)
{
    TTavrelModuleOptions options("", false);
    LoadModulesForReport();
    RefreshModulesList();
    std::size_t frames = 0, bytes = 0;
    for (auto _ : state) {
        TTavrelStackList list;
        for (int thread = 0; thread < 8; ++thread) {
            TStackScanOptions scan;
            scan.ThreadID = 1000 + thread;
            scan.Kinds = ShownDetailKinds(options.StackFlags());
            AddResolvedEntries(list, *g_addresses, scan);
        }
        TReportSources sources = SourcesWithModules();
        sources.CallStack.emplace();
        for (const auto& entry : list.Items()) sources.CallStack->push_back(ReportStackRowOf(*entry));
        for (int thread = 0; thread < 8; ++thread) sources.Threads[1000 + thread] = {"0", "TWorker", thread == 0};
        const TErrorReport report = BuildReportText(sources, options);
        frames = 0;
        for (const auto& entry : list.Items()) frames += entry->DebugDetail == dkDebugLine ? 1 : 0;
        bytes = report.Text.size();
        benchmark::DoNotOptimize(report.Text.data());
    }
    state.counters["frames_with_lines"] = static_cast<double>(frames);
    state.counters["report_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(FullReportOfEightThreads)->Unit(benchmark::kMillisecond);

void AppendToALogOf200(benchmark::State& state)
{
    TTavrelModuleOptions options("", false);
    LoadModulesForReport();
    TTavrelStackList list;
    TStackScanOptions scan;
    scan.ThreadID = 1000;
    AddResolvedEntries(list, *g_addresses, scan);
    TReportSources sources = SourcesWithModules();
    sources.CallStack.emplace();
        for (const auto& entry : list.Items()) sources.CallStack->push_back(ReportStackRowOf(*entry));
    const std::string report = BuildReportText(sources, options).Text;
    char folder[] = "/tmp/report-bench-XXXXXX";
    if (!::mkdtemp(folder)) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::string path = std::string(folder) + "/bench.tlf";
    {
        TLogFile log(path, false);
        for (int i = 0; i < 200; ++i) log.AddReport(report, 200);
        log.Save();
    }
    for (auto _ : state) {
        TLogFile log(path, false);
        log.AddReport(report, 200);
        log.Save();
    }
    state.counters["log_bytes"] = static_cast<double>(report.size() * 200);
    std::remove(path.c_str());
    std::remove((path + ".lock").c_str());
    ::rmdir(folder);
}
BENCHMARK(AppendToALogOf200)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    TStackAddresses addresses(256);
    g_addresses = &addresses;
    Dive<30>();
    std::printf("return addresses on the stack: %zu\n", addresses.Items().size());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
