// Thread tracking in this process: creation (running and suspended, through
// the kernel layer, pthread_create and std::thread), resumption, exit, purge,
// framework thread bodies, the reporter's own classes, and pausing.
#include "crashreport/threads/thread_classes.h"
#include "crashreport/threads/thread_classification.h"
#include "crashreport/threads/thread_pause.h"
#include "crashreport/threads/thread_tracking.h"
#include "crashreport/hook/hook_engine.h"
#include "platform/rtl/exception.h"
#include "platform/rtl/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace crashreport;
using namespace std::chrono_literals;

namespace {

void WaitUntil(const std::function<bool()>& condition)
{
    for (int i = 0; i < 1000 && !condition(); ++i) std::this_thread::sleep_for(2ms);
}

// A copy of the record of a thread, looked up under the read lock.
bool RecordOf(std::uint32_t tid, TTavrelThreadRecord& out)
{
    TTavrelThreadsList* list = TrackedThreads();
    TThreadsListReadLock lock(*list);
    const int i = list->FindByID(tid);
    if (i >= 0) out = *list->Get(i);
    return i >= 0;
}

bool Tracked(std::uint32_t tid)
{
    TTavrelThreadRecord r;
    return RecordOf(tid, r);
}

bool ObjectTracked(const void* object)
{
    TTavrelThreadsList* list = TrackedThreads();
    TThreadsListReadLock lock(*list);
    return list->FindByThreadObject(object) >= 0;
}

struct TGate {
    std::atomic<bool> Release{false};
    std::atomic<std::uint32_t> Tid{0};
    std::atomic<int> Runs{0};
};

std::intptr_t GatedBody(void* p)
{
    auto* g = static_cast<TGate*>(p);
    g->Tid = kernel::GetCurrentThreadId();
    ++g->Runs;
    while (!g->Release) std::this_thread::sleep_for(1ms);
    return 0;
}

void* SystemBody(void* p)
{
    GatedBody(p);
    return nullptr;
}

void* ExitingBody(void* p)
{
    auto* g = static_cast<TGate*>(p);
    g->Tid = kernel::GetCurrentThreadId();
    while (!g->Release) std::this_thread::sleep_for(1ms);
    pthread_exit(nullptr);
}

class ThreadTracking : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(StartThreadTracking()); }
    void TearDown() override
    {
        SetBodyExceptionHandler(nullptr);
        StopThreadTracking();
        EXPECT_FALSE(hook::HookEngineStarted());
    }
};

TEST_F(ThreadTracking, MainThreadIsTheFirstRecord)
{
    TTavrelThreadRecord main;
    ASSERT_TRUE(RecordOf(kernel::MainThreadId(), main));
    EXPECT_TRUE(IsMainThread(main));
    EXPECT_TRUE(kernel::IsThreadActive(main.Handle));
    EXPECT_NE(main.StackTop, 0u);
    int local = 0;
    EXPECT_GT(main.StackTop, reinterpret_cast<std::uintptr_t>(&local));
    EXPECT_EQ(main.Priority, kPriorityNotRead);
}

TEST_F(ThreadTracking, RunningThreadRecordsItsStarterAndStack)
{
    TGate gate;
    std::uint32_t tid = 0;
    const kernel::THandle h = kernel::CreateThread(GatedBody, &gate, 0, &tid);
    ASSERT_NE(h, 0u);
    WaitUntil([&] { return gate.Runs > 0; });
    TTavrelThreadRecord r;
    ASSERT_TRUE(RecordOf(tid, r));
    EXPECT_EQ(r.Handle, h);
    EXPECT_EQ(r.StarterThreadID, kernel::GetCurrentThreadId());
    EXPECT_NE(r.StarterStack, nullptr);
    int local = 0;
    EXPECT_GT(r.StarterStackSize, 0u);
    EXPECT_LT(r.StarterStackSize, 1u << 20);
    (void)local;
    EXPECT_NE(r.StackTop, 0u) << "recorded by the start wrapper";
    EXPECT_EQ(r.FrameworkStartRoutine, reinterpret_cast<void*>(&GatedBody));
    EXPECT_EQ(r.StartParameter, &gate);
    EXPECT_TRUE(IsSystemThread(r));
    gate.Release = true;
    kernel::WaitForThread(h, 5000);
    kernel::CloseHandle(h);
}

TEST_F(ThreadTracking, SuspendedThreadWaitsAndItsResumerBecomesTheStarter)
{
    TGate gate;
    std::uint32_t tid = 0;
    const kernel::THandle h = kernel::CreateThread(GatedBody, &gate, kernel::CREATE_SUSPENDED, &tid);
    ASSERT_NE(h, 0u);
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(gate.Runs, 0);
    TTavrelThreadRecord r;
    ASSERT_TRUE(RecordOf(tid, r)) << "in the table before it runs";
    EXPECT_EQ(r.StarterThreadID, 0u);
    EXPECT_EQ(r.StarterStack, nullptr);

    std::atomic<std::uint32_t> resumer{0};
    std::thread([&] {
        resumer = kernel::GetCurrentThreadId();
        EXPECT_EQ(kernel::ResumeThread(h), 1u);
    }).join();
    WaitUntil([&] { return gate.Runs > 0; });
    EXPECT_EQ(gate.Runs, 1);
    ASSERT_TRUE(RecordOf(tid, r));
    EXPECT_EQ(r.StarterThreadID, resumer.load());
    EXPECT_NE(r.StarterStack, nullptr);
    gate.Release = true;
    kernel::WaitForThread(h, 5000);
    kernel::CloseHandle(h);
}

TEST_F(ThreadTracking, PlainPthreadThreadsAreTrackedAndPurgedAfterReturning)
{
    TGate gate;
    pthread_t t;
    ASSERT_EQ(pthread_create(&t, nullptr, SystemBody, &gate), 0);
    WaitUntil([&] { return gate.Runs > 0; });
    TTavrelThreadRecord r;
    ASSERT_TRUE(RecordOf(gate.Tid, r));
    EXPECT_EQ(r.SystemStartRoutine, reinterpret_cast<void*>(&SystemBody));
    EXPECT_EQ(r.StarterThreadID, kernel::GetCurrentThreadId());
    EXPECT_NE(r.StarterStack, nullptr);
    EXPECT_NE(r.StackTop, 0u);

    gate.Release = true;
    pthread_join(t, nullptr); // it returned without pthread_exit: still listed
    WaitUntil([&] {
        TrackedThreads()->Purge();
        return !Tracked(gate.Tid);
    });
    EXPECT_FALSE(Tracked(gate.Tid));
}

TEST_F(ThreadTracking, PthreadExitRemovesTheRecordAtOnce)
{
    TGate gate;
    pthread_t t;
    ASSERT_EQ(pthread_create(&t, nullptr, ExitingBody, &gate), 0);
    WaitUntil([&] { return gate.Tid != 0; });
    EXPECT_TRUE(Tracked(gate.Tid));
    gate.Release = true;
    pthread_join(t, nullptr);
    EXPECT_FALSE(Tracked(gate.Tid));
}

TEST_F(ThreadTracking, StdThreadsAreTrackedThroughLibstdcxx)
{
    std::atomic<std::uint32_t> tid{0};
    std::atomic<bool> release{false};
    std::thread t([&] {
        tid = kernel::GetCurrentThreadId();
        while (!release) std::this_thread::sleep_for(1ms);
    });
    WaitUntil([&] { return tid != 0; });
    EXPECT_TRUE(Tracked(tid));
    release = true;
    t.join();
}

// Framework threads.
std::atomic<int> g_workerBodies{0};

class TWorkerThread : public rtl::TThread {
public:
    explicit TWorkerThread(bool suspended, bool raise) : TThread(suspended), raise_(raise) {}
    std::atomic<int> Runs{0};
    std::atomic<std::uint32_t> RanOn{0};

protected:
    void Execute() override
    {
        RanOn = kernel::GetCurrentThreadId();
        ++Runs;
        ++g_workerBodies;
        if (raise_) throw rtl::Exception("body failed");
    }

private:
    bool raise_;
};

std::atomic<int> g_bodyReports{0};
std::atomic<std::uint32_t> g_bodyReportThread{0};
std::string g_bodyReportMessage;

void CountBodyException(std::exception_ptr e, rtl::TThread*)
{
    ++g_bodyReports;
    g_bodyReportThread = kernel::GetCurrentThreadId();
    try {
        std::rethrow_exception(e);
    } catch (const std::exception& x) {
        g_bodyReportMessage = x.what();
    }
}

TEST_F(ThreadTracking, FrameworkThreadBodyThatRaisesIsReportedOnceAndStillReachesTheFramework)
{
    g_bodyReports = 0;
    SetBodyExceptionHandler(CountBodyException);
    auto* worker = rtl::TThread::Create<TWorkerThread>(true, true);
    TTavrelThreadRecord r;
    ASSERT_TRUE(RecordOf(worker->ThreadID(), r));
    EXPECT_EQ(r.ThreadObject, worker);
    EXPECT_NE(r.SavedBodyMethod, nullptr);
    EXPECT_TRUE(IsRuntimeThread(r));
    EXPECT_FALSE(IsMainThread(r));
    EXPECT_EQ(worker->Runs, 0);
    worker->Start();
    worker->WaitFor();
    EXPECT_EQ(worker->Runs, 1);
    EXPECT_EQ(g_bodyReports, 1);
    EXPECT_EQ(g_bodyReportThread, worker->RanOn.load());
    EXPECT_EQ(g_bodyReportMessage, "body failed");
    ASSERT_TRUE(worker->FatalException());
    EXPECT_THROW(std::rethrow_exception(worker->FatalException()), rtl::Exception);
    delete worker;

    // A body that returns normally reports nothing.
    auto* quiet = rtl::TThread::Create<TWorkerThread>(false, false);
    quiet->WaitFor();
    EXPECT_EQ(quiet->Runs, 1);
    EXPECT_EQ(g_bodyReports, 1);
    EXPECT_FALSE(quiet->FatalException());
    delete quiet;
}

// Classes with tables of their own, to be intercepted from several threads at once.
std::atomic<int> g_kindBodies{0};
template <int N> class TKindThread : public rtl::TThread {
public:
    TKindThread() : TThread(false) {}

protected:
    void Execute() override { g_kindBodies += N; }
};

template <int N> void CreateKind()
{
    auto* t = rtl::TThread::Create<TKindThread<N>>();
    t->WaitFor();
    delete t;
}

TEST_F(ThreadTracking, ClassesInterceptedFromSeveralThreadsAtOnce)
{
    g_kindBodies = 0;
    std::vector<std::thread> creators;
    for (int round = 0; round < 4; ++round) {
        creators.emplace_back([] {
            CreateKind<1>();
            CreateKind<2>();
        });
        creators.emplace_back([] {
            CreateKind<4>();
            CreateKind<8>();
        });
        creators.emplace_back([] {
            CreateKind<16>();
            CreateKind<32>();
        });
    }
    for (auto& t : creators) t.join();
    EXPECT_EQ(g_kindBodies, 4 * 63);
    EXPECT_GE(hook::HookedMethodCount(), 6);
}

// The reporter's own thread classes, and one derived from them.
class TSendThread : public rtl::TThread {
public:
    TSendThread() : TThread(false) {}
    std::atomic<int> Runs{0};
    std::atomic<std::uint32_t> RanOn{0};

protected:
    void Execute() override
    {
        RanOn = kernel::GetCurrentThreadId();
        ++Runs;
        throw rtl::Exception("not reported here");
    }
};
class TMailSendThread : public TSendThread {};
class TFreezeThread : public rtl::TThread {
public:
    TFreezeThread() : TThread(true) {}
    std::atomic<std::uint32_t> RanOn{0};
    std::atomic<bool> Release{false};

protected:
    void Execute() override
    {
        RanOn = kernel::GetCurrentThreadId();
        while (!Release) std::this_thread::sleep_for(1ms);
    }
};

TEST_F(ThreadTracking, ReporterThreadClassesAreNeverTracked)
{
    g_bodyReports = 0;
    SetBodyExceptionHandler(CountBodyException);
    auto* freeze = rtl::TThread::Create<TFreezeThread>();
    EXPECT_FALSE(Tracked(freeze->ThreadID()));
    freeze->Start();
    WaitUntil([&] { return freeze->RanOn != 0; });
    EXPECT_FALSE(Tracked(freeze->RanOn));
    EXPECT_FALSE(ObjectTracked(freeze));
    freeze->Release = true;
    freeze->WaitFor();
    delete freeze;

    auto* send = rtl::TThread::Create<TMailSendThread>();
    EXPECT_FALSE(ObjectTracked(send));
    send->WaitFor();
    EXPECT_EQ(send->Runs, 1);
    EXPECT_FALSE(Tracked(send->RanOn));
    EXPECT_EQ(g_bodyReports, 0) << "their bodies are not wrapped";
    EXPECT_TRUE(send->FatalException());
    delete send;

    EXPECT_TRUE(IsUntrackedThreadClass(typeid(TMailSendThread)));
    EXPECT_FALSE(IsUntrackedThreadClass(typeid(TWorkerThread)));
    EXPECT_EQ(ShortClassName(typeid(TMailSendThread)), "TMailSendThread");
}

TEST_F(ThreadTracking, ExportedEntriesKeepAnotherModulesThreadsInTheTable)
{
    std::uint8_t foreignStack[16] = {1, 2, 3};
    TTavrelThreadRecord foreign{};
    foreign.ThreadID = kernel::GetCurrentThreadId(); // a live thread so that purging keeps it
    foreign.Handle = kernel::OpenThread(foreign.ThreadID);
    foreign.StarterStack = foreignStack;
    foreign.StarterStackSize = sizeof foreignStack;
    foreign.StackCopyNotOwned = 1;
    TavrelLog_CallCreateThread(&foreign);

    TTavrelThreadsList* list = TrackedThreads();
    int i;
    {
        TThreadsListReadLock lock(*list);
        i = list->FindByHandle(foreign.Handle);
        ASSERT_GE(i, 0);
        EXPECT_EQ(list->Get(i)->StarterStack, foreignStack);
        EXPECT_EQ(list->Get(i)->StackCopyNotOwned, 1);
    }

    TTavrelThreadRecord resumed = foreign;
    resumed.StarterThreadID = 4321;
    TavrelLog_CallResumeThread(foreign.Handle, &resumed);
    TTavrelThreadRecord r;
    {
        TThreadsListReadLock lock(*list);
        i = list->FindByHandle(foreign.Handle);
        ASSERT_GE(i, 0);
        r = *list->Get(i);
    }
    EXPECT_EQ(r.StarterThreadID, 4321u);
    EXPECT_EQ(r.StackCopyNotOwned, 1);

    // Removes the current thread's last record: the foreign one (the main
    // thread's own record comes first).
    TavrelLog_CallExitThread();
    {
        TThreadsListReadLock lock(*list);
        EXPECT_LT(list->FindByHandle(foreign.Handle), 0);
    }
    kernel::CloseHandle(foreign.Handle);
    EXPECT_EQ(foreignStack[0], 1) << "a stack copy of another module is never freed here";
}

class TSpinningWorker : public rtl::TThread {
public:
    TSpinningWorker() : TThread(false) {}
    std::atomic<long> Spins{0};

protected:
    void Execute() override
    {
        while (!Terminated()) ++Spins;
    }
};

TEST_F(ThreadTracking, PausingDuringAReportFollowsTheOptions)
{
    std::atomic<long> spins{0};
    std::atomic<bool> stop{false};
    std::atomic<std::uint32_t> tid{0};
    std::thread spinner([&] {
        tid = kernel::GetCurrentThreadId();
        while (!stop) ++spins;
    });
    WaitUntil([&] { return tid != 0 && spins > 0; });

    auto copy = TTavrelThreadsList::PrivateCopy(*TrackedThreads());
    EXPECT_TRUE(copy->IsCopy());
    {
        TPausedThreads paused;
        paused.Pause(*copy, TBehaviourFlags{bhPauseRuntimeThreads}, 0);
        EXPECT_TRUE(paused.ThreadIds().empty()) << "only the main thread is a runtime thread here, and it is us";
        paused.Pause(*copy, TBehaviourFlags{bhPauseSystemThreads}, 0);
        ASSERT_EQ(paused.ThreadIds().size(), 1u);
        EXPECT_EQ(paused.ThreadIds()[0], tid.load());
        const long frozen = spins;
        std::this_thread::sleep_for(20ms);
        EXPECT_EQ(spins, frozen);
        paused.ResumeAll();
        WaitUntil([&] { return spins > frozen; });
        EXPECT_GT(spins, frozen);

        paused.Pause(*copy, TBehaviourFlags{bhPauseSystemThreads}, tid);
        EXPECT_TRUE(paused.ThreadIds().empty()) << "the faulting thread is never paused";
    }
    stop = true;
    spinner.join();

    // A framework thread is a runtime thread.
    auto* worker = rtl::TThread::Create<TSpinningWorker>();
    WaitUntil([&] { return worker->Spins > 0; });
    auto withWorker = TTavrelThreadsList::PrivateCopy(*TrackedThreads());
    TPausedThreads paused;
    paused.Pause(*withWorker, TBehaviourFlags{bhPauseRuntimeThreads, bhKeepMainThreadRunning}, 0);
    ASSERT_EQ(paused.ThreadIds().size(), 1u);
    EXPECT_EQ(paused.ThreadIds()[0], worker->ThreadID());
    const long frozen = worker->Spins;
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(worker->Spins, frozen);
    paused.ResumeAll();
    worker->Terminate();
    worker->WaitFor();
    delete worker;
}

class TSelfFreeingThread : public rtl::TThread {
public:
    explicit TSelfFreeingThread(std::atomic<int>* destroyed) : TThread(false), destroyed_(destroyed)
    {
        FreeOnTerminate = true;
    }
    ~TSelfFreeingThread() override { ++*destroyed_; }

protected:
    void Execute() override {}

private:
    std::atomic<int>* destroyed_;
};

TEST(FrameworkThreadLifetime, FreeOnTerminateAndNeverStartedThreads)
{
    std::atomic<int> destroyed{0};
    rtl::TThread::Create<TSelfFreeingThread>(&destroyed);
    WaitUntil([&] { return destroyed == 1; });
    EXPECT_EQ(destroyed, 1);

    // A thread made suspended and never started is ended by its destructor
    // without running its body.
    const int bodies = g_workerBodies;
    auto* idle = rtl::TThread::Create<TWorkerThread>(true, false);
    EXPECT_TRUE(idle->Suspended());
    EXPECT_NE(idle->ThreadID(), 0u);
    delete idle;
    EXPECT_EQ(g_workerBodies, bodies);
}

TEST(ThreadClassification, OptionTests)
{
    TTavrelThreadRecord main{}, runtime{}, system{};
    main.ThreadID = kernel::MainThreadId();
    runtime.ThreadID = 1;
    runtime.ThreadObject = reinterpret_cast<rtl::TThread*>(&runtime);
    system.ThreadID = 2;
    EXPECT_TRUE(IsMainThread(main) && IsRuntimeThread(main) && !IsSystemThread(main));
    EXPECT_TRUE(!IsMainThread(runtime) && IsRuntimeThread(runtime));
    EXPECT_TRUE(IsSystemThread(system));

    EXPECT_TRUE(ShowThreadInReport(system, TStackFlags{stSystemThreads}));
    EXPECT_FALSE(ShowThreadInReport(system, TStackFlags{stRuntimeThreads}));
    EXPECT_TRUE(ShowThreadInReport(runtime, TStackFlags{stRuntimeThreads}));
    EXPECT_TRUE(ShowThreadInReport(main, TStackFlags{stRuntimeThreads}));
    EXPECT_FALSE(ShowThreadInReport(main, TStackFlags{stSystemThreads, stDllFrames}));

    const TBehaviourFlags pauseRuntime{bhPauseRuntimeThreads};
    const TBehaviourFlags keepMain{bhPauseRuntimeThreads, bhKeepMainThreadRunning};
    EXPECT_TRUE(PauseThreadDuringReport(main, pauseRuntime));
    EXPECT_FALSE(PauseThreadDuringReport(main, keepMain));
    EXPECT_TRUE(PauseThreadDuringReport(runtime, keepMain));
    EXPECT_FALSE(PauseThreadDuringReport(main, TBehaviourFlags{bhKeepMainThreadRunning}));
    EXPECT_FALSE(PauseThreadDuringReport(system, pauseRuntime));
    EXPECT_TRUE(PauseThreadDuringReport(system, TBehaviourFlags{bhPauseSystemThreads}));
    EXPECT_FALSE(PauseThreadDuringReport(runtime, TBehaviourFlags{bhPauseSystemThreads}));
}

TEST(ThreadsList, SearchesCopiesAndOwnership)
{
    TTavrelThreadsList list;
    auto* a = list.Append(TTavrelThreadsList::NewRecord());
    a->ThreadID = 10;
    a->Handle = 100;
    auto* b = list.Append(TTavrelThreadsList::NewRecord());
    b->ThreadID = 10; // a later record of the same ID is found first
    b->Handle = 101;
    b->StarterStack = new std::uint8_t[4]{9, 8, 7, 6};
    b->StarterStackSize = 4;
    EXPECT_EQ(list.FindByID(10), 1);
    EXPECT_EQ(list.FindByHandle(100), 0);
    EXPECT_EQ(list.FindByHandle(999), -1);
    EXPECT_EQ(list.FindByThreadObject(nullptr), 1);
    EXPECT_EQ(a->Priority, kPriorityNotRead);

    auto copy = TTavrelThreadsList::PrivateCopy(list);
    ASSERT_EQ(copy->Count(), 2);
    EXPECT_NE(copy->Get(1)->StarterStack, b->StarterStack) << "the copy keeps its own stack bytes";
    list.Delete(1); // frees b's stack; the copy must not notice
    EXPECT_EQ(copy->Get(1)->StarterStack[0], 9);
    EXPECT_EQ(copy->Get(1)->Handle, 101u);
    copy.reset();
    EXPECT_EQ(list.Count(), 1);
}

TEST(ThreadsList, AFailureInsideALockedScopeLeavesTheLockFree)
{
    TTavrelThreadsList list;
    list.Append(TTavrelThreadsList::NewRecord())->ThreadID = kernel::GetCurrentThreadId();
    EXPECT_THROW(
        {
            TThreadsListWriteLock lock(list);
            throw std::runtime_error("fails while the table is locked");
        },
        std::runtime_error);
    EXPECT_THROW(
        {
            TThreadsListReadLock lock(list);
            throw std::runtime_error("fails while the table is read");
        },
        std::runtime_error);
    // Another thread takes the write lock (a held lock would stop it here).
    std::thread other([&] { list.RemoveCurrentThread(); });
    other.join();
    EXPECT_EQ(list.Count(), 1) << "the other thread has no record to remove";
    list.RemoveCurrentThread();
    EXPECT_EQ(list.Count(), 0);
}

} // namespace
