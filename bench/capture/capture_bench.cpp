// Throw and catch one and twenty frames deep: first plain, then with the
// reporter's capture started (repeated throws at one place hit the
// analysis cache), then the first, uncached throw (cache cleared each
// time). Prints the ratios of this run at the end.
#include <benchmark/benchmark.h>

#include "crashreport/capture/dispatcher.h"
#include "crashreport/capture/exception_capture.h"
#include "crashreport/capture/handler_analysis.h"
#include "platform/rtl/exception.h"

#include <cstdio>
#include <map>
#include <string>

namespace {

volatile int g_sink;

__attribute__((noinline)) void Dive(int depth)
{
    if (depth <= 1) throw rtl::Exception("bench");
    Dive(depth - 1);
    g_sink = depth; // keeps the call from becoming a jump
}

void ThrowCatch(benchmark::State& state)
{
    const int depth = static_cast<int>(state.range(0));
    for (auto _ : state) {
        try {
            Dive(depth);
        } catch (const rtl::Exception& e) {
            benchmark::DoNotOptimize(&e);
        }
    }
}

void ThrowCatchUncached(benchmark::State& state)
{
    const int depth = static_cast<int>(state.range(0));
    for (auto _ : state) {
        crashreport::ClearAnalysisCache();
        try {
            Dive(depth);
        } catch (const rtl::Exception& e) {
            benchmark::DoNotOptimize(&e);
        }
    }
}

BENCHMARK(ThrowCatch)->Name("Plain/ThrowCatch")->Arg(1)->Arg(20);
BENCHMARK(ThrowCatch)->Name("Reporter/ThrowCatch")->Arg(1)->Arg(20);
BENCHMARK(ThrowCatchUncached)->Name("Reporter/FirstThrow")->Arg(1)->Arg(20);

// Keeps the console output and the time of each run by name.
class TCollector : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            Times[run.benchmark_name()] = run.GetAdjustedRealTime();
            CpuTimes[run.benchmark_name()] = run.GetAdjustedCPUTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> Times;
    std::map<std::string, double> CpuTimes;
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    TCollector collector;
    benchmark::RunSpecifiedBenchmarks(&collector, "^Plain/");
    crashreport::TCaptureStartup startup;
    startup.Force = true;
    if (!crashreport::StartExceptionCapture(startup)) {
        std::fprintf(stderr, "the capture did not start\n");
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks(&collector, "^Reporter/");
    crashreport::StopExceptionCapture();
    // Real time and processor time: on a busy machine the second is the steadier.
    for (const auto* times : {&collector.Times, &collector.CpuTimes}) {
        std::printf("%s time:\n", times == &collector.Times ? "real" : "processor");
        for (const char* depth : {"1", "20"}) {
            auto at = [&](const char* name) {
                const auto it = times->find(std::string(name) + depth);
                return it == times->end() ? 0.0 : it->second;
            };
            const double plain = at("Plain/ThrowCatch/"), cached = at("Reporter/ThrowCatch/"),
                         first = at("Reporter/FirstThrow/");
            if (plain > 0)
                std::printf("  depth %2s: plain %.0f ns, reporter %.0f ns (ratio %.2f), uncached first throw %.0f ns "
                            "(ratio %.2f)\n",
                            depth, plain, cached, cached / plain, first, first / plain);
        }
    }
    benchmark::Shutdown();
    return 0;
}
