// The converter programs as built (in whatever build type): their stored
// debug data is of a real size and resolves their own functions to lines,
// so their call stacks keep lines in Release and MinSizeRel builds too.
#include <gtest/gtest.h>

#include <string>

#include "crashreport/modules/elf_sections.h"
#include "tests/tools/tool_test_support.h"

namespace {

using namespace tooltest;

void ExpectLinesFor(const std::string& program)
{
    SCOPED_TRACE(program);
    crashreport::TElfSections elf;
    ASSERT_TRUE(elf.Open(program));
    const crashreport::TElfSection* tldata = elf.Find(".tldata");
    ASSERT_NE(tldata, nullptr);
    std::printf("%s: .tldata %llu bytes\n", program.c_str(), static_cast<unsigned long long>(tldata->Size));
    EXPECT_GT(tldata->Size, 50u * 1024u);

    bool loaded = false;
    auto record = LoadRecord(program, "", &loaded);
    ASSERT_TRUE(loaded);
    ASSERT_TRUE(record->DebugData);

    // Every function of the program that is more than a few bytes long:
    // nearly all of them resolve to a procedure and a line.
    std::size_t functions = 0, resolved = 0;
    bool mainResolved = false;
    for (const auto& f : FunctionSymbols(program)) {
        if (f.Size < 16) continue;
        ++functions;
        const auto hit = record->DebugData->Lookup(record->Handle, f.Address + f.Size / 2);
        if (hit && hit->Line > 0 && !hit->ProcedureName.empty() && !hit->UnitName.empty()) ++resolved;
        if (f.Name == "main") {
            // At its first instruction the code is main's own, not inlined code's.
            const auto entry = record->DebugData->Lookup(record->Handle, f.Address);
            mainResolved = entry && entry->ProcedureName.rfind("main", 0) == 0 && entry->Line > 0;
        }
    }
    std::printf("%s: %zu of %zu functions resolve to a line\n", program.c_str(), resolved, functions);
    EXPECT_TRUE(mainResolved);
    ASSERT_GT(functions, 100u);
    EXPECT_GE(resolved * 100, functions * 95);
}

TEST(ConverterStoredData, CommandLineProgramResolvesItsFunctionsToLines) { ExpectLinesFor(VEK2AVI_PROGRAM); }

TEST(ConverterStoredData, DesktopProgramResolvesItsFunctionsToLines) { ExpectLinesFor(VEK2AVI_GUI_PROGRAM); }

} // namespace
