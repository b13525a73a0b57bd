// The pages' rows: thread groups of the call stack, the modules' cells,
// pictures, and the column widths kept under their own keys.
#include <gtest/gtest.h>

#include "crashreport/ui/tab_pages.h"
#include "platform/ui/backend.h"
#include "platform/ui/form.h"
#include "tests/crashreport/ui/ui_test_support.h"

namespace {

using namespace crashreport;
using namespace crashreport::ui;

TEST(TabPages, ModuleVersionSizeAndPicture)
{
    EXPECT_EQ(ShortModuleVersion("5.1.5.0"), "5.1.x");
    EXPECT_EQ(ShortModuleVersion("10.0"), "10.0");
    EXPECT_EQ(ShortModuleVersion("10.0.1"), "10.0.x");
    EXPECT_EQ(ShortModuleVersion(""), "");
    EXPECT_EQ(ModuleSizeText(1536), "2 Kb");
    EXPECT_EQ(ModuleSizeText(512), "0 Kb") << "halves go to the even neighbour";
    EXPECT_EQ(ModuleSizeText(2560), "2 Kb");
    EXPECT_EQ(ModuleImageIndex("/opt/a/rtl.bpl"), 1);
    EXPECT_EQ(ModuleImageIndex("X.DPL"), 1);
    EXPECT_EQ(ModuleImageIndex("setup.Exe"), 2);
    EXPECT_EQ(ModuleImageIndex("/usr/lib/libc.so.6"), 0);
    EXPECT_EQ(ModuleImageIndex("/opt/vek/vek2avi"), 0);
}

TEST(TabPages, CallStackRowsGroupByThreadWithABlankRowBeforeARunningThread)
{
    dialogtest::TDialogFixture f;
    f.Options.SetStackFlags(TStackFlags({stDllFrames, stPackageFrames, stLineOffsets}));
    const std::vector<TPageRow> rows = BuildCallStackRows(f.Sample->Sources, f.Options);
    std::vector<int> groups, blanks;
    for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
        if (rows[static_cast<size_t>(i)].IsGroup)
            groups.push_back(i);
        else if (rows[static_cast<size_t>(i)].Columns[0].empty())
            blanks.push_back(i);
    }
    ASSERT_EQ(groups.size(), 2u);
    ASSERT_EQ(blanks.size(), 1u);
    EXPECT_EQ(blanks[0] + 1, groups[1]);
    EXPECT_EQ(rows[0].Caption.rfind("Exception Thread: ID=4242; Priority=", 0), 0u) << rows[0].Caption;
    EXPECT_NE(rows[static_cast<size_t>(groups[1])].Caption.find("Running Thread: ID=4200"), std::string::npos);
    EXPECT_NE(rows[static_cast<size_t>(groups[1])].Caption.find("; [Main]"), std::string::npos);
    EXPECT_EQ(rows[0].Highlight, 1);
    const TPageRow& frame = rows[1];
    EXPECT_EQ(frame.Columns[0], HexAddress(0x55d0c0001234));
    EXPECT_EQ(frame.Columns[1], "vek2avi");
    EXPECT_EQ(frame.Columns[5], "118[3]");
    EXPECT_EQ(frame.ImageIndex, 3);
    // Without the package frames flag the decorated-name frame goes.
    f.Options.SetStackFlags(TStackFlags({stDllFrames}));
    const auto fewer = BuildCallStackRows(f.Sample->Sources, f.Options);
    EXPECT_EQ(fewer.size(), rows.size() - 1);
}

TEST(TabPages, InlinedCallsAreMarkedRowsOfTheirAddress)
{
    dialogtest::TDialogFixture f;
    reporttest::AddInlinedRows(*f.Sample);
    const std::vector<TPageRow> rows = BuildCallStackRows(f.Sample->Sources, f.Options);
    ASSERT_GE(rows.size(), 4u);
    EXPECT_EQ(rows[1].Columns[4], "Decode(int) [inlined]");
    EXPECT_EQ(rows[1].Columns[2], "frame_file.h");
    EXPECT_EQ(rows[2].Columns[4], "Load() [inlined]");
    EXPECT_EQ(rows[3].Columns[4].find("[inlined]"), std::string::npos) << rows[3].Columns[4];
    EXPECT_EQ(rows[1].Columns[0], rows[3].Columns[0]); // one address, its whole chain
}

TEST(TabPages, ModuleRowsAndTheirSwappedWidthKeys)
{
    dialogtest::TDialogFixture f;
    const auto rows = BuildModuleRows(f.Sample->Sources);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].Columns[1], "vek2avi");
    EXPECT_EQ(rows[0].Columns[3], "1.2.x");
    EXPECT_EQ(rows[0].Columns[4], "121 Kb");
    EXPECT_EQ(rows[0].Columns[5], "2025-12-09 12:00:00");
    EXPECT_EQ(rows[0].Columns[6], "/opt/vek/");
    EXPECT_EQ(std::string(ModuleWidthKeys()[5]), "ColMod6");
    EXPECT_EQ(std::string(ModuleWidthKeys()[6]), "ColMod5");

    ASSERT_TRUE(::ui::SelectBackend(::ui::BackendKind::bkHeadless));
    TStateFile state;
    ASSERT_TRUE(state.WriteIntegers({{"ColMod5", 333}, {"ColMod6", 99}, {"Col4", 250}}));
    ::ui::Form form;
    form.SetBounds(0, 0, 800, 400);
    TPageContext context;
    context.Report = &f.Dialog;
    context.Options = &f.Options;
    context.State = &state;
    {
        TReportPage page(&form, pkModules, context);
        EXPECT_EQ(page.List()->ColumnWidth(5), 99) << "Modified reads ColMod6";
        EXPECT_EQ(page.List()->ColumnWidth(6), 333) << "Path reads ColMod5";
        EXPECT_EQ(page.List()->ItemCount(), 3);
        page.List()->SetColumnWidth(5, 123);
    }
    EXPECT_EQ(state.ReadInteger("ColMod6", -1), 123) << "written back when the page closes";
    {
        TReportPage page(&form, pkCallStack, context);
        EXPECT_EQ(page.List()->ColumnWidth(4), 250);
        EXPECT_EQ(page.List()->Column(5).Align, ::ui::ColumnAlign::caRight);
    }
}

} // namespace
