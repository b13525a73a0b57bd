// Routines named by the symbol table of the program's stored data, and
// hooking them (or a library's export when the table lacks them).
#include <gtest/gtest.h>

#include "crashreport/hook/hook_engine.h"
#include "crashreport/binding/symbol_hooks.h"

extern "C" int PlainModuleCode(int v);

extern "C" __attribute__((noinline, used)) int SymbolHookTarget(int v)
{
    volatile int x = v;
    return x * 11 + 3;
}

namespace {

using namespace crashreport;

int (*g_original)(int) = nullptr;
int Replacement(int v) { return g_original(v) + 1000; }

int (*g_plainOriginal)(int) = nullptr;
int PlainReplacement(int v) { return g_plainOriginal(v) + 2000; }

class SymbolHooks : public testing::Test {
protected:
    void SetUp() override { hook::StartHookEngine(); }
    void TearDown() override { hook::ShutdownHookEngine(); }
};

TEST_F(SymbolHooks, SymbolAddressComesFromTheStoredSymbolTable)
{
    EXPECT_EQ(SymbolAddress(200), reinterpret_cast<void*>(&SymbolHookTarget));
    EXPECT_EQ(SymbolAddress(201), nullptr);
}

TEST_F(SymbolHooks, HookSymbolReplacesTheRoutineAndKeepsTheOriginalCallable)
{
    ASSERT_EQ(SymbolHookTarget(1), 14);
    g_original = reinterpret_cast<int (*)(int)>(HookSymbol(200, reinterpret_cast<void*>(&Replacement)));
    ASSERT_NE(g_original, nullptr);
    EXPECT_EQ(SymbolHookTarget(1), 1014);
    EXPECT_EQ(g_original(2), 25);
    EXPECT_TRUE(hook::RestoreProcedure(reinterpret_cast<void*>(&SymbolHookTarget)));
    EXPECT_EQ(SymbolHookTarget(1), 14);
    EXPECT_EQ(HookSymbol(201, reinterpret_cast<void*>(&Replacement)), nullptr);
}

TEST_F(SymbolHooks, HookSymbolOrExportFallsBackToTheLibraryExport)
{
    ASSERT_EQ(PlainModuleCode(1), 7);
    g_plainOriginal = reinterpret_cast<int (*)(int)>(
        HookSymbolOrExport(201, "libplain_module.so", "PlainModuleCode", reinterpret_cast<void*>(&PlainReplacement)));
    ASSERT_NE(g_plainOriginal, nullptr);
    EXPECT_EQ(PlainModuleCode(1), 2007);
    EXPECT_TRUE(hook::RestoreProcedure(reinterpret_cast<void*>(&PlainModuleCode)));
    EXPECT_EQ(HookSymbolOrExport(201, "libplain_module.so", "NoSuchRoutine", reinterpret_cast<void*>(&Replacement)),
              nullptr);
}

} // namespace
