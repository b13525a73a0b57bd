// The tool's stored data in a real program: the stripped copy still
// resolves every function's addresses to file, class, procedure and line,
// in agreement with addr2line reading the unstripped copy's DWARF.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

#include "crashreport/modules/elf_sections.h"
#include "tools/elf_handles.h"
#include "crashreport/modules/module_identity_info.h"
#include "tests/tools/addr2line_chains.h"
#include "tests/tools/tool_test_support.h"

namespace {

using namespace tooltest;

const char* const kPassword = "sample-secret";

TEST(StrippedProgram, KeepsItsStoredDataSections)
{
    crashreport::TElfSections elf;
    ASSERT_TRUE(elf.Open(SAMPLE_STRIPPED));
    EXPECT_NE(elf.Find(".tldata"), nullptr);
    EXPECT_NE(elf.Find(".tlversion"), nullptr);
    EXPECT_EQ(elf.Find(".debug_info"), nullptr);
    EXPECT_EQ(elf.Find(".symtab"), nullptr);
    // Not loaded: the program's memory image is unchanged by the data.
    EXPECT_EQ(elf.Find(".tldata")->Flags & 2 /* SHF_ALLOC */, 0u);
}

TEST(StrippedProgram, VersionSectionGivesDescriptionAndVersion)
{
    const auto info = crashreport::GetVersionInfo(SAMPLE_STRIPPED);
    EXPECT_EQ(info.Version, "1.2.3.4");
    EXPECT_EQ(info.Description, "Debug data sample");
}

TEST(StrippedProgram, AddressesAgreeWithAddr2line)
{
    bool loaded = false;
    auto record = LoadRecord(SAMPLE_STRIPPED, kPassword, &loaded);
    ASSERT_TRUE(loaded);
    ASSERT_TRUE(record->DebugData);
    ASSERT_EQ(record->NamesReadable, 1);

    std::set<std::uint64_t> unique;
    for (const auto& f : FunctionSymbols(SAMPLE_PROGRAM)) {
        unique.insert(f.Address);
        unique.insert(f.Address + f.Size / 2);
        unique.insert(f.Address + f.Size - 1);
    }
    const std::vector<std::uint64_t> addresses(unique.begin(), unique.end());
    ASSERT_GT(addresses.size(), 50u);
    // addr2line caches names between the addresses of one run, so its answer
    // for an address may depend on the ones asked before: an address whose
    // answer in a batch disagrees is asked again in a run of its own, and
    // that answer counts. (One run per address took minutes: a static
    // library's objects are whole batches of files, so most of the program
    // is code the sample never calls, in large compile units.) The whole
    // inline chain of every address is compared.
    const auto result = addr2line::Compare(SAMPLE_PROGRAM, addresses, *record->DebugData, record->Handle, 200);
    ASSERT_GT(result.Compared, addresses.size() / 2);
    std::printf("agreement with addr2line -i -f: %zu of %zu addresses with a line (%.2f %%; the same text at every "
                "level %.2f %%: %zu named by a split-off part's symbol, %zu inlined code that addr2line names by "
                "the function holding it, %zu where addr2line's file differs from libdw's and ours is libdw's), %zu "
                "in inlined code; %zu addresses without a DWARF line, %zu of them also unresolved by the stored "
                "data\n",
                result.Agreeing, result.Compared, result.Percent(), result.StrictPercent(), result.SplitParts,
                result.OwnNames, result.Refereed, result.Inlined, result.Lineless, result.LinelessUnresolved);
    for (const auto& m : result.Mismatches) std::printf("  %s", m.c_str());
    EXPECT_GE(result.Percent(), 99.0);
}

TEST(StrippedProgram, WrongPasswordShowsNamesAsBase64)
{
    auto record = LoadRecord(SAMPLE_STRIPPED, "not the password");
    ASSERT_TRUE(record->DebugData);
    EXPECT_EQ(record->NamesReadable, 0);
    EXPECT_EQ(record->DebugPassword, "not the password");
    // The options are not protected: they load all the same.
    EXPECT_EQ(record->Options->SmtpServerPort(), 2525);
    const auto main = std::find_if(FunctionSymbols(SAMPLE_PROGRAM).begin(), FunctionSymbols(SAMPLE_PROGRAM).end(),
                                   [](const TFunctionSymbol& f) { return f.Name == "main"; });
    (void)main;
    std::uint64_t mainAddress = 0;
    for (const auto& f : FunctionSymbols(SAMPLE_PROGRAM))
        if (f.Name == "main") mainAddress = f.Address;
    ASSERT_NE(mainAddress, 0u);
    const auto hit = record->DebugData->Lookup(record->Handle, mainAddress);
    ASSERT_TRUE(hit);
    EXPECT_EQ(hit->ProcedureName.substr(0, 1), "?");
    EXPECT_EQ(hit->UnitName.substr(0, 1), "?");
    EXPECT_GT(hit->Line, 0); // lines are not enciphered

    auto right = LoadRecord(SAMPLE_STRIPPED, kPassword);
    const auto good = right->DebugData->Lookup(right->Handle, mainAddress);
    ASSERT_TRUE(good);
    EXPECT_EQ(good->ProcedureName, "main");
    EXPECT_EQ(good->UnitName, "sample_program.cpp");
    EXPECT_EQ(good->Line, hit->Line);
}

} // namespace
