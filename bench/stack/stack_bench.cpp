// The time to find and resolve call stacks, the exact walk against the raw
// scan: the current thread's stack of 20 and of 60 frames of this program
// (each resolved to a line from the stored data), and every stack of a
// process with 16 threads, each paused while its stack is read, as a report
// reads them.
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "crashreport/modules/modules_list.h"
#include "crashreport/stack/frame_walk.h"
#include "crashreport/stack/stack_scan.h"
#include "platform/kernel/threads.h"
#include "platform/rtl/thread.h"

namespace {

using namespace crashreport;

volatile int g_sink;

std::uintptr_t StackTop()
{
    std::uintptr_t top = 0, bottom = 0;
    kernel::GetCurrentThreadStack(top, bottom);
    return top;
}

// One stack, found and resolved the way a report does it: the module
// table (the walk) and the code ranges are made per report too.
int FindAndResolve(bool walk, const kernel::TThreadContext& context, std::uintptr_t top)
{
    TStackAddresses addresses;
    const TCodeRanges code;
    if (walk) {
        const TUnwindModules modules;
        TThreadStack stack;
        stack.Context = &context;
        stack.Top = top;
        WalkStackAddresses(stack, modules, code, addresses);
    } else {
        ScanStackAddresses({nullptr, reinterpret_cast<const void*>(context.Rsp), reinterpret_cast<const void*>(top)},
                           false, code, addresses);
    }
    TTavrelStackList list;
    AddResolvedEntries(list, addresses, {});
    return list.Count();
}

// Runs the benchmark loop N frames deep (N distinct functions of this program).
template <int N> __attribute__((noinline)) void Dive(benchmark::State& state, bool walk)
{
    if constexpr (N <= 1) {
        kernel::TThreadContext context{};
        kernel::CaptureCallerContext(context);
        const std::uintptr_t top = StackTop();
        int rows = 0;
        for (auto _ : state) rows = FindAndResolve(walk, context, top);
        state.counters["rows"] = rows;
    } else {
        Dive<N - 1>(state, walk);
    }
    g_sink = N;
}

void FailingThread20(benchmark::State& state)
{
    LoadModulesForReport();
    Dive<20>(state, state.range(0) != 0);
}
BENCHMARK(FailingThread20)->ArgName("walk")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void FailingThread60(benchmark::State& state)
{
    LoadModulesForReport();
    Dive<60>(state, state.range(0) != 0);
}
BENCHMARK(FailingThread60)->ArgName("walk")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// The walk alone, 60 frames deep, over tables made once: its cost per frame.
template <int N> __attribute__((noinline)) void WalkOnly(benchmark::State& state)
{
    if constexpr (N <= 1) {
        kernel::TThreadContext context{};
        kernel::CaptureCallerContext(context);
        const std::uintptr_t top = StackTop();
        const TUnwindModules modules;
        const TCodeRanges code;
        TStackAddresses addresses;
        TThreadStack stack;
        stack.Context = &context;
        stack.Top = top;
        int frames = 0;
        for (auto _ : state) {
            addresses.Clear();
            frames = WalkStackAddresses(stack, modules, code, addresses).Frames;
        }
        state.counters["frames"] = frames;
        state.counters["per_frame"] =
            benchmark::Counter(frames, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    } else {
        WalkOnly<N - 1>(state);
    }
    g_sink = N;
}

void WalkAlone60(benchmark::State& state) { WalkOnly<60>(state); }
BENCHMARK(WalkAlone60)->Unit(benchmark::kMicrosecond);

// Making the walk's module table, once per report.
void ModuleTable(benchmark::State& state)
{
    std::size_t modules = 0;
    for (auto _ : state) modules = TUnwindModules().Count();
    state.counters["modules"] = static_cast<double>(modules);
}
BENCHMARK(ModuleTable)->Unit(benchmark::kMicrosecond);

// Sixteen threads that wait 30 frames deep until they are let go.
struct TWaiters {
    std::mutex Lock;
    std::condition_variable Changed;
    int Ready = 0;
    bool Stop = false;
};

template <int N> __attribute__((noinline)) void WaitDeep(TWaiters& w)
{
    if constexpr (N <= 1) {
        std::unique_lock<std::mutex> lock(w.Lock);
        ++w.Ready;
        w.Changed.notify_all();
        w.Changed.wait(lock, [&w] { return w.Stop; });
    } else {
        WaitDeep<N - 1>(w);
    }
    g_sink = N;
}

class TWaiter : public rtl::TThread {
public:
    explicit TWaiter(TWaiters& w) : rtl::TThread(false), w_(w) {}
    void Execute() override
    {
        top_ = StackTop();
        WaitDeep<30>(w_);
    }
    std::uintptr_t Top() const { return top_; }

private:
    TWaiters& w_;
    std::atomic<std::uintptr_t> top_{0};
};

void SixteenThreads(benchmark::State& state)
{
    const bool walk = state.range(0) != 0;
    LoadModulesForReport();
    TWaiters w;
    std::vector<std::unique_ptr<TWaiter>> threads;
    for (int i = 0; i < 16; ++i) threads.emplace_back(rtl::TThread::Create<TWaiter>(w));
    {
        std::unique_lock<std::mutex> lock(w.Lock);
        w.Changed.wait(lock, [&w] { return w.Ready == 16; });
    }
    int rows = 0;
    for (auto _ : state) {
        TTavrelStackList list;
        const TCodeRanges code;
        std::unique_ptr<TUnwindModules> modules = walk ? std::make_unique<TUnwindModules>() : nullptr;
        TStackAddresses addresses;
        for (const auto& thread : threads) {
            addresses.Clear();
            const kernel::THandle handle = thread->Handle();
            if (kernel::SuspendThread(handle) == kernel::kSuspendFailed) continue;
            kernel::TThreadContext context{};
            if (kernel::GetThreadContext(handle, context)) {
                if (walk) {
                    TThreadStack stack;
                    stack.Context = &context;
                    stack.Top = thread->Top();
                    WalkStackAddresses(stack, *modules, code, addresses);
                } else {
                    ScanStackAddresses({nullptr, reinterpret_cast<const void*>(context.Rsp),
                                        reinterpret_cast<const void*>(thread->Top())},
                                       false, code, addresses);
                }
            }
            kernel::ResumeThread(handle);
            AddResolvedEntries(list, addresses, {});
        }
        rows = list.Count();
    }
    state.counters["rows"] = rows;
    {
        std::lock_guard<std::mutex> lock(w.Lock);
        w.Stop = true;
    }
    w.Changed.notify_all();
    for (auto& thread : threads) thread->WaitFor();
}
BENCHMARK(SixteenThreads)->ArgName("walk")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
