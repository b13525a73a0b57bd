// Kernel thread stand-ins: the start gate, signal suspension with nesting
// counts, the context of the interrupted instruction, and ended threads.
#include "platform/kernel/threads.h"

#include "tests/support/child_process.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>
#include <thread>

extern "C" {
void kt_spin(volatile long* flag);
extern char kt_spin_end[];
}

using namespace kernel;
using namespace std::chrono_literals;

namespace {

struct TCounter {
    std::atomic<int> Runs{0};
    std::atomic<long> Stop{0};
    std::atomic<std::uint32_t> Tid{0};
};

std::intptr_t CountOnce(void* p)
{
    auto* c = static_cast<TCounter*>(p);
    c->Tid = GetCurrentThreadId();
    ++c->Runs;
    return 7;
}

std::intptr_t CountUntilStopped(void* p)
{
    auto* c = static_cast<TCounter*>(p);
    c->Tid = GetCurrentThreadId();
    while (!c->Stop.load()) {
        ++c->Runs;
        std::this_thread::yield();
    }
    return 0;
}

std::intptr_t Spin(void* p)
{
    auto* c = static_cast<TCounter*>(p);
    ++c->Runs;
    kt_spin(reinterpret_cast<volatile long*>(&c->Stop));
    return 0;
}

void WaitUntil(const std::function<bool()>& condition)
{
    for (int i = 0; i < 500 && !condition(); ++i) std::this_thread::sleep_for(2ms);
}

TEST(KernelThreads, RunningAndSuspendedCreation)
{
    TCounter running;
    std::uint32_t tid = 0;
    THandle h = CreateThread(CountOnce, &running, 0, &tid);
    ASSERT_NE(h, 0u);
    EXPECT_NE(tid, 0u);
    EXPECT_TRUE(WaitForThread(h, 5000));
    EXPECT_EQ(running.Runs, 1);
    EXPECT_EQ(running.Tid, tid);
    EXPECT_FALSE(IsThreadActive(h));
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(CloseHandle(h));

    TCounter gated;
    h = CreateThread(CountOnce, &gated, CREATE_SUSPENDED, &tid);
    ASSERT_NE(h, 0u);
    EXPECT_EQ(GetThreadId(h), tid) << "the ID is known before the thread runs";
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(gated.Runs, 0) << "a suspended thread runs none of its own code";
    EXPECT_TRUE(IsThreadActive(h));
    EXPECT_EQ(SuspendThread(h), 1u); // counts nest at the gate too
    EXPECT_EQ(ResumeThread(h), 2u);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(gated.Runs, 0);
    EXPECT_EQ(ResumeThread(h), 1u);
    EXPECT_TRUE(WaitForThread(h, 5000));
    EXPECT_EQ(gated.Runs, 1);
    EXPECT_EQ(ResumeThread(h), 0u);
    CloseHandle(h);
}

TEST(KernelThreads, SuspendCountsNestOnARunningThread)
{
    TCounter c;
    THandle h = CreateThread(CountUntilStopped, &c, 0, nullptr);
    ASSERT_NE(h, 0u);
    WaitUntil([&] { return c.Runs > 0; });

    EXPECT_EQ(SuspendThread(h), 0u);
    EXPECT_EQ(SuspendThread(h), 1u);
    const int frozen = c.Runs;
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(c.Runs, frozen);
    EXPECT_EQ(ResumeThread(h), 2u);
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(c.Runs, frozen) << "still suspended once";
    EXPECT_EQ(ResumeThread(h), 1u);
    WaitUntil([&] { return c.Runs > frozen; });
    EXPECT_GT(c.Runs, frozen);

    // A second handle shares the count.
    THandle other = OpenThread(GetThreadId(h));
    ASSERT_NE(other, 0u);
    EXPECT_EQ(SuspendThread(other), 0u);
    EXPECT_EQ(SuspendThread(h), 1u);
    EXPECT_EQ(ResumeThread(other), 2u);
    EXPECT_EQ(ResumeThread(h), 1u);
    CloseHandle(other);

    c.Stop = 1;
    EXPECT_TRUE(WaitForThread(h, 5000));
    CloseHandle(h);
}

TEST(KernelThreads, ContextShowsTheInterruptedInstruction)
{
    TCounter c;
    THandle h = CreateThread(Spin, &c, 0, nullptr);
    ASSERT_NE(h, 0u);
    WaitUntil([&] { return c.Runs > 0; });
    std::this_thread::sleep_for(10ms);

    TThreadContext context{};
    EXPECT_FALSE(GetThreadContext(h, context)) << "a running thread has no saved context";
    ASSERT_EQ(SuspendThread(h), 0u);
    ASSERT_TRUE(GetThreadContext(h, context));
    const auto begin = reinterpret_cast<std::uint64_t>(&kt_spin);
    const auto end = reinterpret_cast<std::uint64_t>(kt_spin_end);
    EXPECT_GE(context.Rip, begin);
    EXPECT_LT(context.Rip, end);
    EXPECT_EQ(context.Rdi, reinterpret_cast<std::uint64_t>(&c.Stop)) << "argument register of the spinning call";
    ResumeThread(h);
    c.Stop = 1;
    EXPECT_TRUE(WaitForThread(h, 5000));
    CloseHandle(h);
}

TEST(KernelThreads, EndedThreadsAreNotSuspended)
{
    TCounter c;
    THandle h = CreateThread(CountOnce, &c, 0, nullptr);
    ASSERT_TRUE(WaitForThread(h, 5000));
    WaitUntil([&] { return !IsThreadActive(h); });
    EXPECT_EQ(SuspendThread(h), kSuspendFailed);
    TThreadContext context{};
    EXPECT_FALSE(GetThreadContext(h, context));
    CloseHandle(h);
    EXPECT_EQ(SuspendThread(h), kSuspendFailed) << "closed handle";
    EXPECT_EQ(OpenThread(0x7FFFFFF0u), 0u);
}

TEST(KernelThreads, SuspendingAThreadThatIsEndingNeverHangs)
{
    // Each thread ends at once; the suspension races its exit.
    int suspended = 0;
    for (int i = 0; i < 200; ++i) {
        TCounter c;
        THandle h = CreateThread(CountOnce, &c, 0, nullptr);
        ASSERT_NE(h, 0u);
        const std::uint32_t previous = SuspendThread(h);
        if (previous != kSuspendFailed) {
            ++suspended;
            EXPECT_EQ(ResumeThread(h), previous + 1);
        }
        EXPECT_TRUE(WaitForThread(h, 10000));
        CloseHandle(h);
    }
    std::printf("suspended %d of 200 ending threads before they ended\n", suspended);
}

TEST(KernelThreads, AProgramEndingWhileItsThreadsStartEndsCleanly)
{
    // The creator does not wait for a new thread to run, so the program may
    // end (and destroy its static objects) while its threads are still
    // starting, ending or waiting at their gates.
    for (int run = 0; run < 100; ++run) {
        const vektest::TChildResult child = vektest::RunInChild(
            [] {
                static TCounter counter;
                for (int i = 0; i < 16; ++i) CreateThread(CountOnce, &counter, i % 2 ? CREATE_SUSPENDED : 0, nullptr);
                std::exit(0);
                return 1;
            },
            20);
        ASSERT_TRUE(child.Exited && child.ExitCode == 0) << "run " << run << ":\n" << child.Output;
    }
}

TEST(KernelThreads, ThreadThatBlocksTheSignalIsNotWaitedForForever)
{
    std::atomic<int> stage{0};
    std::atomic<std::uint32_t> tid{0};
    std::thread t([&] {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SuspendSignal());
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
        tid = GetCurrentThreadId();
        stage = 1;
        while (stage != 2) std::this_thread::sleep_for(1ms);
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr); // a late signal must find nothing to do
    });
    WaitUntil([&] { return stage == 1; });
    THandle h = OpenThread(tid);
    ASSERT_NE(h, 0u);
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(SuspendThread(h), kSuspendFailed);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 10s);
    EXPECT_EQ(ResumeThread(h), 0u) << "the failed suspension left no count";
    stage = 2;
    t.join();
    CloseHandle(h);
}

TEST(KernelThreads, ForeignThreadsAndTheCurrentThread)
{
    std::atomic<long> stop{0};
    std::atomic<std::uint32_t> tid{0};
    std::atomic<long> spins{0};
    std::thread t([&] {
        tid = GetCurrentThreadId();
        while (!stop) {
            ++spins;
        }
    });
    WaitUntil([&] { return tid != 0 && spins > 0; });
    THandle h = OpenThread(tid);
    ASSERT_NE(h, 0u);
    EXPECT_TRUE(IsThreadActive(h));
    ASSERT_EQ(SuspendThread(h), 0u);
    const long frozen = spins;
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(spins, frozen);
    EXPECT_EQ(ResumeThread(h), 1u);
    stop = 1;
    t.join();
    WaitUntil([&] { return !IsThreadActive(h); });
    EXPECT_FALSE(IsThreadActive(h));
    CloseHandle(h);

    THandle self = OpenThread(GetCurrentThreadId());
    TThreadContext context{};
    EXPECT_TRUE(GetThreadContext(self, context));
    EXPECT_NE(context.Rsp, 0u);
    CloseHandle(self);
    EXPECT_EQ(MainThreadId(), static_cast<std::uint32_t>(getpid()));
}

TEST(KernelThreads, ThreadSuspendingItselfWaitsForAResume)
{
    std::atomic<THandle> handle{0};
    std::atomic<int> stage{0};
    std::thread t([&] {
        handle = OpenThread(GetCurrentThreadId());
        stage = 1;
        SuspendThread(handle);
        stage = 2;
    });
    WaitUntil([&] { return stage == 1; });
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(stage, 1);
    WaitUntil([&] { return ResumeThread(handle) == 1u || stage == 2; });
    t.join();
    EXPECT_EQ(stage, 2);
    CloseHandle(handle);
}

} // namespace
