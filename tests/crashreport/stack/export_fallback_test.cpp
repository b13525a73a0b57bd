// The export-name fallback for the program itself: a program linked with
// exported functions but without stored debug data still resolves its own
// exported functions to procedure names, while code that is not exported
// gives the module only.
#include <gtest/gtest.h>

#include "crashreport/modules/modules_list.h"
#include "crashreport/stack/debug_info.h"

namespace fallback {

// Exported (the program is linked with ENABLE_EXPORTS) and kept out of line.
__attribute__((noinline)) int ExportedStep(int x)
{
    asm volatile("" : "+r"(x));
    return x * 3 + 1;
}

} // namespace fallback

namespace {

__attribute__((noinline)) int HiddenStep(int x)
{
    asm volatile("" : "+r"(x));
    return x * 5 + 2;
}

using namespace crashreport;

TEST(ProgramExports, NameTheProgramsOwnExportedFunctions)
{
    RefreshModulesList();
    const auto* at = reinterpret_cast<const char*>(&fallback::ExportedStep) + 4;
    TTavrelDebugInfo info;
    GetDebugInfo(info, at, 0, 0);
    ASSERT_NE(info.ModuleInfo, nullptr);
    EXPECT_EQ(info.ModuleInfo->ModuleKind, mkProgram);
    EXPECT_FALSE(info.ModuleInfo->DebugData); // nothing stored: the exports are all there is
    EXPECT_EQ(info.DebugDetail, dkDecoratedName);
    EXPECT_EQ(info.UnitName, "fallback");
    EXPECT_EQ(info.ProcedureName, "ExportedStep(int)");
    EXPECT_EQ(info.Line, 0);

    // A function of an anonymous namespace is not in the dynamic symbol table.
    GetDebugInfo(info, reinterpret_cast<const char*>(&HiddenStep) + 4, 0, 0);
    ASSERT_NE(info.ModuleInfo, nullptr);
    EXPECT_EQ(info.DebugDetail, dkModuleOnly);
    EXPECT_TRUE(info.ProcedureName.empty());
    EXPECT_EQ(fallback::ExportedStep(1) + HiddenStep(1), 11);
}

} // namespace
