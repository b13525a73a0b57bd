// Procedure interception of real code in this process: the trampoline must
// behave exactly like the procedure did, and restoring must put back every byte.
#include "crashreport/hook/hook_engine.h"
#include "crashreport/hook/trampoline_memory.h"
#include "hook_test_functions.h"

#include <gtest/gtest.h>
#include <sys/auxv.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace crashreport::hook;

namespace {

using TProc = long (*)(long);

// One replacement per slot: it counts and calls on through its trampoline.
template <int N> struct TReplacement {
    static inline TProc Trampoline = nullptr;
    static inline int Calls = 0;
    static long Call(long x)
    {
        ++Calls;
        return Trampoline(x);
    }
};

const long kInputs[] = {0, 1, 5, -3, 1000};

std::vector<long> Results(TProc f)
{
    std::vector<long> r;
    for (long x : kInputs) r.push_back(f(x));
    return r;
}

std::array<std::uint8_t, 32> Bytes(TProc f)
{
    std::array<std::uint8_t, 32> b;
    std::memcpy(b.data(), reinterpret_cast<const void*>(f), b.size());
    return b;
}

class ProcedureHook : public ::testing::Test {
protected:
    void SetUp() override { StartHookEngine(); }
    void TearDown() override { ShutdownHookEngine(); }

    // Hooks f, checks the calls and the trampoline, restores, and answers the moved count.
    template <int N> int HookAndCheck(TProc f, const char* name)
    {
        const auto before = Results(f);
        const auto bytes = Bytes(f);
        using R = TReplacement<N>;
        R::Calls = 0;
        void* trampoline = InterceptProcedure(reinterpret_cast<void*>(f), reinterpret_cast<void*>(&R::Call), name);
        EXPECT_NE(trampoline, nullptr);
        R::Trampoline = reinterpret_cast<TProc>(trampoline);
        const TProcedureHook* hook = FindProcedureHook(reinterpret_cast<void*>(f));
        EXPECT_NE(hook, nullptr);
        const int moved = hook ? hook->SavedCount : -1;

        EXPECT_EQ(Results(f), before) << name << " through the replacement";
        EXPECT_EQ(R::Calls, static_cast<int>(std::size(kInputs))) << name;
        EXPECT_EQ(Results(R::Trampoline), before) << name << " through the trampoline";

        // A second interception changes nothing.
        const int hooks = ProcedureHookCount();
        EXPECT_EQ(InterceptProcedure(reinterpret_cast<void*>(f), reinterpret_cast<void*>(&R::Call), name), trampoline);
        EXPECT_EQ(ProcedureHookCount(), hooks);

        EXPECT_TRUE(RestoreProcedure(reinterpret_cast<void*>(f)));
        EXPECT_EQ(Bytes(f), bytes) << name << " restored";
        R::Calls = 0;
        EXPECT_EQ(Results(f), before);
        EXPECT_EQ(R::Calls, 0);
        EXPECT_FALSE(RestoreProcedure(reinterpret_cast<void*>(f)));
        return moved;
    }
};

TEST_F(ProcedureHook, RipRelativeOperandsAreRelocated)
{
    EXPECT_EQ(HookAndCheck<1>(hk_rip_load, "hk_rip_load"), 7);
    EXPECT_EQ(HookAndCheck<2>(hk_rip_lea, "hk_rip_lea"), 7);
    hk_data = 77; // the moved load still reads the live cell
    EXPECT_EQ(HookAndCheck<3>(hk_rip_load, "hk_rip_load"), 7);
    hk_data = 40;
}

TEST_F(ProcedureHook, ShortBranchesLeavingTheBlockGoThroughStubs)
{
    EXPECT_EQ(HookAndCheck<4>(hk_short_out, "hk_short_out"), 9);
}

TEST_F(ProcedureHook, ShortBranchesInsideTheBlockAreCopiedUnchanged)
{
    EXPECT_EQ(HookAndCheck<5>(hk_short_in, "hk_short_in"), 7);
    EXPECT_EQ(HookAndCheck<6>(hk_short_to_end, "hk_short_to_end"), 6);
    void* trampoline = InterceptProcedure(reinterpret_cast<void*>(hk_short_in),
                                          reinterpret_cast<void*>(&TReplacement<5>::Call), "hk_short_in");
    const TProcedureHook* hook = FindProcedureHook(reinterpret_cast<void*>(hk_short_in));
    ASSERT_NE(hook, nullptr);
    EXPECT_EQ(hook->TrampolineSize, 7 + 5); // no stub
    EXPECT_EQ(std::memcmp(trampoline, hook->SavedBytes, 7), 0);
}

TEST_F(ProcedureHook, CallsAndNearBranchesKeepTheirDestinations)
{
    EXPECT_EQ(HookAndCheck<7>(hk_call_first, "hk_call_first"), 5);
    EXPECT_EQ(HookAndCheck<8>(hk_near_jcc, "hk_near_jcc"), 8);
}

TEST_F(ProcedureHook, MovesWholeInstructionsOnly)
{
    EXPECT_EQ(HookAndCheck<9>(hk_one_one_three, "hk_one_one_three"), 5);
    EXPECT_EQ(HookAndCheck<10>(hk_six, "hk_six"), 6);
    EXPECT_EQ(HookAndCheck<11>(hk_padded_short, "hk_padded_short"), 5);
}

using TStrtol = long (*)(const char*, char**, int);
TStrtol g_strtolTrampoline = nullptr;
long PlusOneStrtol(const char* text, char** end, int base) { return g_strtolTrampoline(text, end, base) + 1; }

TEST_F(ProcedureHook, LibcProcedureWithARipRelativeEntry)
{
    // glibc's strtol begins with a RIP-relative load of its locale pointer.
    void* target = dlsym(RTLD_DEFAULT, "strtol");
    ASSERT_NE(target, nullptr);
    std::array<std::uint8_t, 32> bytes;
    std::memcpy(bytes.data(), target, bytes.size());
    char text[] = "123";
    ASSERT_EQ(std::strtol(text, nullptr, 10), 123);

    g_strtolTrampoline = reinterpret_cast<TStrtol>(
        InterceptProcedure(target, reinterpret_cast<void*>(&PlusOneStrtol), "libc.so.6.strtol"));
    EXPECT_EQ(std::strtol(text, nullptr, 10), 124);
    char* end = nullptr;
    char hex[] = "ff!";
    EXPECT_EQ(g_strtolTrampoline(hex, &end, 16), 255);
    EXPECT_EQ(end, hex + 2);
    EXPECT_TRUE(RestoreProcedure(target));
    EXPECT_EQ(std::memcmp(bytes.data(), target, bytes.size()), 0);
    EXPECT_EQ(std::strtol(text, nullptr, 10), 123);
}

TEST_F(ProcedureHook, ImportJumpStubLeadsToItsTarget)
{
    using R = TReplacement<12>;
    R::Calls = 0;
    void* trampoline =
        InterceptProcedure(reinterpret_cast<void*>(hk_stub), reinterpret_cast<void*>(&R::Call), "hk_stub");
    R::Trampoline = reinterpret_cast<TProc>(trampoline);
    EXPECT_NE(FindProcedureHook(reinterpret_cast<void*>(hk_stub_target)), nullptr);
    EXPECT_EQ(FindProcedureHook(reinterpret_cast<void*>(hk_stub)), nullptr);
    EXPECT_EQ(hk_stub(4), 13);
    EXPECT_EQ(hk_stub_target(4), 13);
    EXPECT_EQ(R::Calls, 2);
    EXPECT_TRUE(RestoreProcedure(reinterpret_cast<void*>(hk_stub)));
    // An endbr64 landing pad with a bnd-prefixed jump leads to the same place.
    EXPECT_EQ(FollowImportStub(reinterpret_cast<void*>(hk_ibt_stub)), reinterpret_cast<void*>(hk_stub_target));
    EXPECT_EQ(FollowImportStub(reinterpret_cast<void*>(hk_six)), reinterpret_cast<void*>(hk_six));
}

TEST_F(ProcedureHook, ProcedureEndingBeforeFiveBytesIsRefused)
{
    const auto bytes = Bytes(hk_too_short);
    try {
        InterceptProcedure(reinterpret_cast<void*>(hk_too_short), reinterpret_cast<void*>(&TReplacement<13>::Call),
                           "hk_too_short");
        FAIL() << "no exception";
    } catch (const EHookingError& e) {
        EXPECT_EQ(e.Message, "Cannot hook the procedure \"hk_too_short\".");
    }
    EXPECT_EQ(Bytes(hk_too_short), bytes);
    EXPECT_EQ(hk_after_short(0), 5);
}

TEST_F(ProcedureHook, NullAndSharedAreaTargetsRaiseTheirErrors)
{
    try {
        InterceptProcedure(nullptr, reinterpret_cast<void*>(&TReplacement<14>::Call), "Nothing");
        FAIL();
    } catch (const EProcNull& e) {
        EXPECT_EQ(e.Message, "Cannot hook a null procedure (\"Nothing\").");
    }
    void* vdso = reinterpret_cast<void*>(getauxval(AT_SYSINFO_EHDR));
    ASSERT_NE(vdso, nullptr);
    try {
        InterceptProcedure(vdso, reinterpret_cast<void*>(&TReplacement<14>::Call), "vdso");
        FAIL();
    } catch (const ESharedArea& e) {
        EXPECT_EQ(e.Message, "Cannot hook the module \"[vdso]\" located into the shared-area.");
    }
    EXPECT_EQ(ProcedureHookCount(), 0);
}

TEST_F(ProcedureHook, UnreadableOrUnwritableCodeIsRefusedWithoutHarm)
{
    EXPECT_THROW(
        InterceptProcedure(reinterpret_cast<void*>(0x10), reinterpret_cast<void*>(&TReplacement<15>::Call), "low"),
        EHookingError);

    // Code in a shared read-only file mapping: its protection cannot be lifted.
    char path[] = "/tmp/hook-test-code-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    const std::uint8_t code[16] = {0x48, 0x8D, 0x47, 0x64, 0x48,
                                   0x83, 0xC0, 0x01, 0xC3}; // lea rax,[rdi+100]; add rax,1; ret
    ASSERT_EQ(write(fd, code, sizeof code), static_cast<ssize_t>(sizeof code));
    ASSERT_EQ(ftruncate(fd, 4096), 0);
    close(fd);
    const int readOnly = open(path, O_RDONLY);
    ASSERT_GE(readOnly, 0);
    void* mapped = mmap(nullptr, 4096, PROT_READ | PROT_EXEC, MAP_SHARED, readOnly, 0);
    close(readOnly);
    unlink(path);
    ASSERT_NE(mapped, MAP_FAILED);
    EXPECT_THROW(InterceptProcedure(mapped, reinterpret_cast<void*>(&TReplacement<15>::Call), "read-only"),
                 EHookingError);
    EXPECT_EQ(reinterpret_cast<TProc>(mapped)(1), 102);
    EXPECT_EQ(ProcedureHookCount(), 0);
    munmap(mapped, 4096);
}

TEST_F(ProcedureHook, FarReplacementIsReachedThroughAnAbsoluteJump)
{
    // lea rax, [rdi + 100]; ret — placed far beyond a 32-bit displacement.
    const std::uint8_t code[] = {0x48, 0x8D, 0x47, 0x64, 0xC3};
    const auto here = reinterpret_cast<std::uintptr_t>(&hk_short_out);
    void* far = nullptr;
    for (std::uintptr_t hint :
         {here + (std::uintptr_t(16) << 32), here - (std::uintptr_t(16) << 32), std::uintptr_t(0x100000000000)}) {
        void* p = mmap(reinterpret_cast<void*>(hint & ~std::uintptr_t(0xFFFF)), 4096, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
        if (p != MAP_FAILED && !InRel32Reach(reinterpret_cast<void*>(&hk_short_out), p)) {
            far = p;
            break;
        }
        if (p != MAP_FAILED) munmap(p, 4096);
    }
    ASSERT_NE(far, nullptr);
    std::memcpy(far, code, sizeof code);
    ASSERT_EQ(mprotect(far, 4096, PROT_READ | PROT_EXEC), 0);

    const auto bytes = Bytes(hk_short_out);
    void* trampoline = InterceptProcedure(reinterpret_cast<void*>(hk_short_out), far, "far");
    EXPECT_EQ(hk_short_out(1), 101);
    EXPECT_EQ(reinterpret_cast<TProc>(trampoline)(0), 2);
    EXPECT_EQ(reinterpret_cast<TProc>(trampoline)(1), 1);
    EXPECT_TRUE(RestoreProcedure(reinterpret_cast<void*>(hk_short_out)));
    EXPECT_EQ(Bytes(hk_short_out), bytes);
    munmap(far, 4096);
}

// Without memory near the target the trampoline goes anywhere and absolute
// jumps connect it (14 bytes are moved).
class FarProcedureHook : public ProcedureHook {
protected:
    void SetUp() override
    {
        ProcedureHook::SetUp();
        RefuseNearTrampolinesForTesting(true);
    }
    void TearDown() override
    {
        RefuseNearTrampolinesForTesting(false);
        ProcedureHook::TearDown();
    }
};

TEST_F(FarProcedureHook, AbsoluteJumpsConnectAFarTrampoline)
{
    EXPECT_EQ(HookAndCheck<30>(hk_long_prologue, "hk_long_prologue"), 16);

    InterceptProcedure(reinterpret_cast<void*>(hk_long_prologue), reinterpret_cast<void*>(&TReplacement<30>::Call),
                       "x");
    const TProcedureHook* hook = FindProcedureHook(reinterpret_cast<void*>(hk_long_prologue));
    ASSERT_NE(hook, nullptr);
    // 16 moved bytes, an absolute jump back and one absolute stub.
    EXPECT_EQ(hook->TrampolineSize, 16 + 14 + 14);
    const auto* entry = reinterpret_cast<const std::uint8_t*>(hk_long_prologue);
    EXPECT_EQ(entry[0], 0xFF);
    EXPECT_EQ(entry[1], 0x25);
    EXPECT_TRUE(RestoreProcedure(reinterpret_cast<void*>(hk_long_prologue)));
}

TEST_F(FarProcedureHook, MovedCodeThatReachesOutIsRefused)
{
    const auto bytes = Bytes(hk_rip_load);
    EXPECT_THROW(InterceptProcedure(reinterpret_cast<void*>(hk_rip_load),
                                    reinterpret_cast<void*>(&TReplacement<31>::Call), "hk_rip_load"),
                 EHookingError);
    EXPECT_EQ(Bytes(hk_rip_load), bytes);
    // Too short for an absolute jump: the next procedure would be overwritten.
    EXPECT_THROW(InterceptProcedure(reinterpret_cast<void*>(hk_one_one_three),
                                    reinterpret_cast<void*>(&TReplacement<31>::Call), "hk_one_one_three"),
                 EHookingError);
    EXPECT_EQ(ProcedureHookCount(), 0);
}

TEST(HookEngineLifecycle, LastShutDownUndoesEveryInterception)
{
    const auto a = Bytes(hk_rip_load), b = Bytes(hk_call_first), c = Bytes(hk_six);
    StartHookEngine();
    StartHookEngine(); // nested start: only the matching last shut-down acts
    InterceptProcedure(reinterpret_cast<void*>(hk_rip_load), reinterpret_cast<void*>(&TReplacement<20>::Call), "a");
    TReplacement<21>::Trampoline = reinterpret_cast<TProc>(InterceptProcedure(
        reinterpret_cast<void*>(hk_call_first), reinterpret_cast<void*>(&TReplacement<21>::Call), "b"));
    InterceptProcedure(reinterpret_cast<void*>(hk_six), reinterpret_cast<void*>(&TReplacement<22>::Call), "c");
    EXPECT_EQ(ProcedureHookCount(), 3);
    ShutdownHookEngine();
    EXPECT_TRUE(HookEngineStarted());
    EXPECT_EQ(ProcedureHookCount(), 3);
    TReplacement<21>::Calls = 0;
    EXPECT_EQ(hk_call_first(3), 7);
    EXPECT_EQ(TReplacement<21>::Calls, 1);
    ShutdownHookEngine();
    EXPECT_FALSE(HookEngineStarted());
    EXPECT_EQ(Bytes(hk_rip_load), a);
    EXPECT_EQ(Bytes(hk_call_first), b);
    EXPECT_EQ(Bytes(hk_six), c);
    EXPECT_THROW(
        InterceptProcedure(reinterpret_cast<void*>(hk_six), reinterpret_cast<void*>(&TReplacement<22>::Call), "c"),
        EHookingError);
}

} // namespace
