// Cost of the hooking engine on the paths it sits on: a call through a
// trampoline against the direct call of the same procedure, and
// pthread_create through the thread-creation interceptor against the plain
// one. Prints each pair's ratio at the end of the run.
#include "crashreport/hook/hook_engine.h"
#include "crashreport/threads/thread_tracking.h"

#include <benchmark/benchmark.h>
#include <pthread.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

// A small procedure with an ordinary prologue; noipa keeps every call a real call.
__attribute__((noipa)) long Target(long x)
{
    long sum = x;
    for (int i = 0; i < 4; ++i) sum = sum * 31 + i;
    return sum;
}

// A procedure of more ordinary size: a hash over 64 bytes.
__attribute__((noipa)) long MediumTarget(long x)
{
    unsigned char bytes[64];
    for (int i = 0; i < 64; ++i) bytes[i] = static_cast<unsigned char>(x + i * 7);
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char b : bytes) h = (h ^ b) * 1099511628211ull;
    return static_cast<long>(h >> 1);
}

using TProc = long (*)(long);
TProc volatile g_trampoline = nullptr;

long Replacement(long x) { return g_trampoline(x); }

void CallLoop(benchmark::State& state, TProc f)
{
    long x = 1;
    for (auto _ : state) {
        x = f(x);
        benchmark::DoNotOptimize(x);
    }
}

// The procedure is intercepted only while its trampoline benchmark runs, so
// the direct calls measure the untouched procedure.
void TrampolineLoop(benchmark::State& state, TProc target)
{
    crashreport::hook::StartHookEngine();
    g_trampoline = reinterpret_cast<TProc>(crashreport::hook::InterceptProcedure(
        reinterpret_cast<void*>(target), reinterpret_cast<void*>(&Replacement), "target"));
    CallLoop(state, g_trampoline);
    crashreport::hook::RestoreProcedure(reinterpret_cast<void*>(target));
    crashreport::hook::ShutdownHookEngine();
}

TProc volatile g_small = &Target;
TProc volatile g_medium = &MediumTarget;

void BM_DirectCall(benchmark::State& state) { CallLoop(state, g_small); }
void BM_TrampolineCall(benchmark::State& state) { TrampolineLoop(state, g_small); }
void BM_DirectCallMedium(benchmark::State& state) { CallLoop(state, g_medium); }
void BM_TrampolineCallMedium(benchmark::State& state) { TrampolineLoop(state, g_medium); }

void* Nothing(void*) { return nullptr; }

void CreateAndJoin(benchmark::State& state)
{
    for (auto _ : state) {
        pthread_t t;
        if (pthread_create(&t, nullptr, Nothing, nullptr) != 0) {
            state.SkipWithError("pthread_create failed");
            break;
        }
        pthread_join(t, nullptr);
    }
}

void BM_PthreadCreatePlain(benchmark::State& state) { CreateAndJoin(state); }

void BM_PthreadCreateIntercepted(benchmark::State& state)
{
    crashreport::StartThreadTracking();
    CreateAndJoin(state);
    crashreport::StopThreadTracking();
}

// Repeated (interleaved, see main), and the fastest repetition kept: the
// machine is shared.
BENCHMARK(BM_DirectCall)->Repetitions(10);
BENCHMARK(BM_TrampolineCall)->Repetitions(10);
BENCHMARK(BM_DirectCallMedium)->Repetitions(10);
BENCHMARK(BM_TrampolineCallMedium)->Repetitions(10);
BENCHMARK(BM_PthreadCreatePlain)->UseRealTime()->Repetitions(5);
BENCHMARK(BM_PthreadCreateIntercepted)->UseRealTime()->Repetitions(5);

// Keeps each benchmark's time per iteration for the ratios.
class TRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs) {
            if (r.run_type != Run::RT_Iteration || r.error_occurred) continue;
            // Calls are compared in CPU time (preemption on a shared machine
            // does not count); thread creation in real time, since the new
            // thread's start is part of its cost.
            const bool real = !r.run_name.time_type.empty();
            const std::string name = r.run_name.function_name + (real ? "/" + r.run_name.time_type : "");
            const double t = real ? r.GetAdjustedRealTime() : r.GetAdjustedCPUTime();
            auto [it, inserted] = times.emplace(name, t);
            if (!inserted && t < it->second) it->second = t;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

void PrintRatio(const TRatioReporter& r, const char* label, const std::string& slow, const std::string& fast)
{
    const auto a = r.times.find(slow), b = r.times.find(fast);
    if (a != r.times.end() && b != r.times.end() && b->second > 0)
        std::printf("%s: %.3f (%s / %s)\n", label, a->second / b->second, slow.c_str(), fast.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    // Repetitions of different benchmarks alternate, so that a burst of
    // load from elsewhere does not fall on one side only.
    std::vector<char*> args(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    char minTime[] = "--benchmark_min_time=0.1";
    args.insert(args.begin() + 1, {interleave, minTime});
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintRatio(reporter, "trampoline call / direct call (3 ns procedure)", "BM_TrampolineCall", "BM_DirectCall");
    PrintRatio(reporter, "trampoline call / direct call (hash of 64 bytes)", "BM_TrampolineCallMedium",
               "BM_DirectCallMedium");
    PrintRatio(reporter, "intercepted / plain pthread_create", "BM_PthreadCreateIntercepted/real_time",
               "BM_PthreadCreatePlain/real_time");
    benchmark::Shutdown();
    return 0;
}
